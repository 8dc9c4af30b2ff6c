#ifndef TOOLS_CE_LOADER_PE_IMAGE_H
#define TOOLS_CE_LOADER_PE_IMAGE_H

// A Windows CE ARM executable (PE32) checked and loaded the way CE's loader
// does it: headers first, then the sections copied to where the image runs,
// its base relocations applied, and each COREDLL import bound by name.
// Portable code with no heap and no exceptions: it runs in the bare-board
// loader and, for its tests and its fuzzer, on the host. Every offset and
// size from the file is checked before it is used.

#include <cstddef>
#include <cstdint>

namespace ce_loader {

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

// A call the loader offers in place of COREDLL's.
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

// Builds the image that CheckHeaders accepted into `image` (layout.sizeOfImage
// bytes, zero-filled past each section's data) for running at `runAddress`:
// every base relocation applied, every import bound to one of `offered`.
// Refuses a relocation type other than HIGHLOW, an import by ordinal, a name
// not offered and a library other than COREDLL.dll.
bool LoadImage(const std::uint8_t* file, std::size_t fileSize, const ImageLayout& layout,
               std::uint8_t* image, std::uint32_t runAddress, const Export* offered,
               std::size_t offeredCount, Refusal& refusal);

}  // namespace ce_loader

#endif  // TOOLS_CE_LOADER_PE_IMAGE_H
