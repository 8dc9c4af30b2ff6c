#ifndef TOOLS_CE_PROCESS_PE_IMAGE_H
#define TOOLS_CE_PROCESS_PE_IMAGE_H

// A Windows CE ARM executable (PE32) checked and loaded the way CE's loader
// does it: headers first, then the sections copied to where the image runs,
// its base relocations applied, and each COREDLL import bound by name.
// No heap and no exceptions: the file comes from outside, so every offset
// and size in it is checked against the file's real size before it is used.

#include <cstddef>
#include <cstdint>

namespace ce_process {

// Why a file was refused, as one line of text.
class Refusal {
public:
    const char* Text() const { return text_; }
    Refusal& Add(const char* text);
    // At most `length` characters of `text`, printable ASCII only.
    Refusal& AddName(const char* text, std::size_t length);
    Refusal& AddHex(std::uint32_t value);
    Refusal& AddDecimal(std::uint32_t value);

private:
    char text_[160] = {};
    std::size_t length_ = 0;
};

// What the headers say about the image, once they have passed every check.
struct ImageLayout {
    std::uint32_t preferredBase = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t entryRva = 0;
};

// A call the process offers in place of COREDLL's.
struct Export {
    const char* name;
    std::uint32_t address;
};

// The one library an image may import from.
constexpr const char kCoreLibrary[] = "COREDLL.dll";

// Checks the headers of `file` as CE's loader does: MZ and PE signatures,
// ARM machine, an executable image that can be relocated, the Windows CE GUI
// subsystem, and every section and directory inside both the image and the
// file. An image larger than `roomForImage` is refused too.
bool CheckHeaders(const std::uint8_t* file, std::size_t fileSize, std::uint32_t roomForImage,
                  ImageLayout& layout, Refusal& refusal);

// Where a section lies in the image and what it may be used for.
struct SectionPlacement {
    std::uint32_t rva = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t characteristics = 0;  // IMAGE_SCN_MEM_EXECUTE, _READ, _WRITE among them
};

constexpr std::uint32_t kSectionMayExecute = 0x20000000;
constexpr std::uint32_t kSectionMayRead = 0x40000000;
constexpr std::uint32_t kSectionMayWrite = 0x80000000;

// The sections of a file that CheckHeaders accepted, in order; at most
// `room` are written. Returns how many the file has.
std::size_t ListSections(const std::uint8_t* file, SectionPlacement* out, std::size_t room);

// Builds the image that CheckHeaders accepted into `image` (layout.sizeOfImage
// bytes, zero-filled past each section's data) for running at `runAddress`:
// every base relocation applied, every import bound to one of `offered`.
// Refuses a relocation type other than HIGHLOW, an import by ordinal, a name
// not offered and a library other than COREDLL.dll.
bool LoadImage(const std::uint8_t* file, std::size_t fileSize, const ImageLayout& layout,
               std::uint8_t* image, std::uint32_t runAddress, const Export* offered,
               std::size_t offeredCount, Refusal& refusal);

}  // namespace ce_process

#endif  // TOOLS_CE_PROCESS_PE_IMAGE_H
