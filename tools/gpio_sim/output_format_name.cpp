#include "output_format_name.h"

#include <algorithm>
#include <cctype>

namespace gpio_sim {
namespace {

struct Ending {
    const char* ending;  // lower case, with its dot
    const char* format;
    OutputFormat holds;  // what the simulator writes that may carry it
    bool ours;           // whether `holds` applies
};

// Endings of formats a user may reach for: pictures, documents, other
// waveform and data formats, archives. Text may be .txt or .log.
constexpr Ending kEndings[] = {
    {".txt", "text", OutputFormat::Text, true},
    {".log", "a log", OutputFormat::Text, true},
    {".vcd", "VCD", OutputFormat::Vcd, true},
    {".svg", "SVG", OutputFormat::Svg, true},
    {".sr", "a sigrok session", OutputFormat::SigrokSession, true},
    {".png", "PNG", OutputFormat::Text, false},
    {".jpg", "JPEG", OutputFormat::Text, false},
    {".jpeg", "JPEG", OutputFormat::Text, false},
    {".gif", "GIF", OutputFormat::Text, false},
    {".bmp", "BMP", OutputFormat::Text, false},
    {".tif", "TIFF", OutputFormat::Text, false},
    {".tiff", "TIFF", OutputFormat::Text, false},
    {".webp", "WebP", OutputFormat::Text, false},
    {".svgz", "compressed SVG", OutputFormat::Text, false},
    {".pdf", "PDF", OutputFormat::Text, false},
    {".ps", "PostScript", OutputFormat::Text, false},
    {".eps", "PostScript", OutputFormat::Text, false},
    {".html", "HTML", OutputFormat::Text, false},
    {".htm", "HTML", OutputFormat::Text, false},
    {".fst", "FST", OutputFormat::Text, false},
    {".ghw", "GHW", OutputFormat::Text, false},
    {".lxt", "LXT", OutputFormat::Text, false},
    {".lxt2", "LXT2", OutputFormat::Text, false},
    {".csv", "CSV", OutputFormat::Text, false},
    {".json", "JSON", OutputFormat::Text, false},
    {".xml", "XML", OutputFormat::Text, false},
    {".zip", "a zip archive", OutputFormat::Text, false},
    {".gz", "gzip", OutputFormat::Text, false},
    {".xz", "xz", OutputFormat::Text, false},
    {".bz2", "bzip2", OutputFormat::Text, false},
};

const char* FormatName(OutputFormat format) {
    switch (format) {
    case OutputFormat::Text: return "text";
    case OutputFormat::Vcd: return "a VCD";
    case OutputFormat::Svg: return "SVG";
    case OutputFormat::SigrokSession: return "a sigrok session";
    }
    return "";
}

const char* UsualEnding(OutputFormat format) {
    switch (format) {
    case OutputFormat::Text: return ".txt";
    case OutputFormat::Vcd: return ".vcd";
    case OutputFormat::Svg: return ".svg";
    case OutputFormat::SigrokSession: return ".sr";
    }
    return "";
}

}  // namespace

bool CheckOutputName(const std::string& option, const std::string& path, OutputFormat format, std::string& error) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return true;
    std::string ending = name.substr(dot);
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Ending& known : kEndings) {
        if (ending != known.ending) continue;
        if (known.ours && known.holds == format) return true;
        error = option + " '" + path + "': the name says " + known.format + ", but " + option + " writes " +
                FormatName(format) + ": name it " + UsualEnding(format) + " (or give a name that says no other format)";
        return false;
    }
    return true;
}

}  // namespace gpio_sim
