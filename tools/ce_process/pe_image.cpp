#include "pe_image.h"

#include <cstring>

namespace ce_process {
namespace {

// Field offsets as Microsoft documents the PE format.
constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kPeOffsetField = 0x3C;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kDirectoriesOffset = 96;  // in the PE32 optional header
constexpr std::uint32_t kImportDirectory = 1;
constexpr std::uint32_t kRelocationDirectory = 5;
constexpr std::size_t kImportDescriptorSize = 20;

constexpr std::uint16_t kMachineArm = 0x01C0;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kSubsystemWindowsCeGui = 9;
constexpr std::uint16_t kRelocationsStripped = 0x0001;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDll = 0x2000;
constexpr std::uint32_t kSectionCode = 0x00000020;
constexpr std::uint32_t kSectionExecute = 0x20000000;
constexpr std::uint32_t kImportByOrdinal = 0x80000000;
constexpr unsigned kRelocationAbsolute = 0;
constexpr unsigned kRelocationHighLow = 3;

// More sections than any CE program has is a damaged table, not a program.
constexpr std::uint16_t kMostSections = 32;
constexpr std::uint32_t kSmallestSectionAlignment = 0x1000;
constexpr std::uint32_t kImageBaseAlignment = 0x10000;
constexpr std::uint32_t kSmallestFileAlignment = 0x200;
constexpr std::uint32_t kLargestFileAlignment = 0x10000;
constexpr std::size_t kLongestName = 64;
// Bounds the work on a damaged table whose descriptors share one long list.
constexpr std::uint32_t kMostImports = 256;

std::uint16_t Read16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t Read32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void Write32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool PowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// [offset, offset + length) inside [0, limit), without overflow.
bool Inside(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
    return offset <= limit && length <= limit - offset;
}

bool Fail(Refusal& refusal, const char* text) {
    refusal.Add(text);
    return false;
}

// The headers as CheckHeaders found them; only built from a file it accepted.
struct Headers {
    const std::uint8_t* coff;
    const std::uint8_t* optional;
    const std::uint8_t* sections;
    std::uint16_t sectionCount;
    std::uint32_t sizeOfHeaders;
    std::uint32_t directoryCount;
};

Headers Locate(const std::uint8_t* file) {
    Headers headers{};
    headers.coff = file + Read32(file + kPeOffsetField) + 4;
    headers.optional = headers.coff + kCoffHeaderSize;
    headers.sections = headers.optional + Read16(headers.coff + 16);
    headers.sectionCount = Read16(headers.coff + 2);
    headers.sizeOfHeaders = Read32(headers.optional + 60);
    headers.directoryCount = Read32(headers.optional + 92);
    return headers;
}

struct Directory {
    std::uint32_t rva;
    std::uint32_t size;
};

Directory DirectoryOf(const Headers& headers, std::uint32_t index) {
    if (index >= headers.directoryCount) return {0, 0};
    const std::uint8_t* entry = headers.optional + kDirectoriesOffset + 8 * index;
    return {Read32(entry), Read32(entry + 4)};
}

// What a section occupies in the image and what of it comes from the file.
struct SectionSpan {
    std::uint32_t rva;
    std::uint32_t virtualSize;
    std::uint32_t rawOffset;
    std::uint32_t rawSize;  // bytes copied from the file
    std::uint32_t fileSize;  // bytes the file declares, padding included
    std::uint32_t flags;
};

SectionSpan SpanOf(const std::uint8_t* header) {
    SectionSpan span{};
    const std::uint32_t virtualSize = Read32(header + 8);
    const std::uint32_t rawSize = Read32(header + 16);
    span.rva = Read32(header + 12);
    span.virtualSize = virtualSize != 0 ? virtualSize : rawSize;
    span.rawOffset = Read32(header + 20);
    span.rawSize = rawSize < span.virtualSize ? rawSize : span.virtualSize;
    span.fileSize = rawSize;
    span.flags = Read32(header + 36);
    return span;
}

bool CheckSections(std::size_t fileSize, const Headers& headers,
                   std::uint32_t sectionAlignment, std::uint32_t sizeOfImage,
                   std::uint32_t entryRva, Refusal& refusal) {
    std::uint64_t end = headers.sizeOfHeaders;
    bool entryInCode = false;
    for (std::uint16_t i = 0; i < headers.sectionCount; ++i) {
        const std::uint8_t* header = headers.sections + i * kSectionHeaderSize;
        const SectionSpan span = SpanOf(header);
        if (span.rva % sectionAlignment != 0 || span.rva < end) {
            refusal.Add("section ").AddName(reinterpret_cast<const char*>(header), 8);
            return Fail(refusal, " overlaps what comes before it or is not aligned");
        }
        if (!Inside(span.rva, span.virtualSize, sizeOfImage)) {
            refusal.Add("section ").AddName(reinterpret_cast<const char*>(header), 8);
            return Fail(refusal, " lies outside the image");
        }
        if (span.fileSize != 0 && !Inside(span.rawOffset, span.fileSize, fileSize)) {
            refusal.Add("section ").AddName(reinterpret_cast<const char*>(header), 8);
            return Fail(refusal, " lies outside the file");
        }
        if ((span.flags & (kSectionCode | kSectionExecute)) != 0 && entryRva >= span.rva &&
            entryRva - span.rva < span.virtualSize) {
            entryInCode = true;
        }
        end = static_cast<std::uint64_t>(span.rva) + span.virtualSize;
    }
    if (!entryInCode || entryRva % 4 != 0) {
        return Fail(refusal.Add("entry point 0x").AddHex(entryRva), " is not ARM code in a code section");
    }
    return true;
}

bool ReadName(const std::uint8_t* image, std::uint32_t sizeOfImage, std::uint32_t rva,
              const char*& name, std::size_t& length) {
    if (rva >= sizeOfImage) return false;
    name = reinterpret_cast<const char*>(image + rva);
    const std::size_t room = sizeOfImage - rva;
    const std::size_t limit = room < kLongestName + 1 ? room : kLongestName + 1;
    const void* terminator = std::memchr(name, '\0', limit);
    if (terminator == nullptr) return false;
    length = static_cast<std::size_t>(static_cast<const char*>(terminator) - name);
    return length != 0;
}

bool SameNameIgnoringCase(const char* a, std::size_t length, const char* b) {
    if (std::strlen(b) != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool ApplyRelocations(std::uint8_t* image, const ImageLayout& layout, Directory directory,
                      std::uint32_t delta, Refusal& refusal) {
    std::uint32_t at = directory.rva;
    const std::uint32_t end = directory.rva + directory.size;  // checked inside the image
    while (at < end) {
        if (end - at < 8) return Fail(refusal, "base relocation block cut short");
        const std::uint32_t page = Read32(image + at);
        const std::uint32_t blockSize = Read32(image + at + 4);
        if (blockSize < 8 || blockSize % 2 != 0 || blockSize > end - at) {
            return Fail(refusal.Add("base relocation block at 0x").AddHex(at), " has a bad size");
        }
        for (std::uint32_t entry = at + 8; entry < at + blockSize; entry += 2) {
            const std::uint16_t value = Read16(image + entry);
            const unsigned type = value >> 12;
            const std::uint32_t target = page + (value & 0xFFFu);
            if (type == kRelocationAbsolute) continue;  // padding
            if (type != kRelocationHighLow) {
                refusal.Add("base relocation type ").AddDecimal(type).Add(" at 0x").AddHex(target);
                return Fail(refusal, " is not supported");
            }
            if (target < page || !Inside(target, 4, layout.sizeOfImage)) {
                return Fail(refusal.Add("base relocation at 0x").AddHex(target), " lies outside the image");
            }
            Write32(image + target, Read32(image + target) + delta);
        }
        at += blockSize;
    }
    return true;
}

std::uint32_t FindExport(const char* name, std::size_t length, const Export* offered,
                         std::size_t offeredCount, bool& found) {
    for (std::size_t i = 0; i < offeredCount; ++i) {
        if (std::strlen(offered[i].name) == length && std::memcmp(offered[i].name, name, length) == 0) {
            found = true;
            return offered[i].address;
        }
    }
    found = false;
    return 0;
}

bool BindImports(std::uint8_t* image, const ImageLayout& layout, Directory directory,
                 const Export* offered, std::size_t offeredCount, Refusal& refusal) {
    const std::uint32_t size = layout.sizeOfImage;
    std::uint32_t importCount = 0;
    for (std::uint32_t at = directory.rva;; at += kImportDescriptorSize) {
        if (at - directory.rva + kImportDescriptorSize > directory.size) {
            return Fail(refusal, "import directory has no terminating entry");
        }
        const std::uint8_t* descriptor = image + at;
        const std::uint32_t lookup = Read32(descriptor);
        const std::uint32_t nameRva = Read32(descriptor + 12);
        const std::uint32_t slots = Read32(descriptor + 16);
        if (nameRva == 0 && slots == 0) return true;
        const char* library = nullptr;
        std::size_t libraryLength = 0;
        if (!ReadName(image, size, nameRva, library, libraryLength)) {
            return Fail(refusal, "import library name lies outside the image or is too long");
        }
        if (!SameNameIgnoringCase(library, libraryLength, kCoreLibrary)) {
            refusal.Add("imports from ").AddName(library, libraryLength).Add(": only ");
            return Fail(refusal.Add(kCoreLibrary), " is offered");
        }
        const std::uint32_t names = lookup != 0 ? lookup : slots;
        for (std::uint32_t index = 0;; ++index) {
            const std::uint64_t nameSlot = static_cast<std::uint64_t>(names) + 4ull * index;
            const std::uint64_t boundSlot = static_cast<std::uint64_t>(slots) + 4ull * index;
            if (!Inside(nameSlot, 4, size) || !Inside(boundSlot, 4, size)) {
                return Fail(refusal, "import table runs outside the image");
            }
            const std::uint32_t thunk = Read32(image + nameSlot);
            if (thunk == 0) break;
            if (++importCount > kMostImports) return Fail(refusal, "more imports than any program needs");
            if ((thunk & kImportByOrdinal) != 0) {
                refusal.Add("import by ordinal ").AddDecimal(thunk & 0xFFFFu).Add(" from ");
                return Fail(refusal.Add(kCoreLibrary), " is not offered: the process binds by name");
            }
            const char* name = nullptr;
            std::size_t nameLength = 0;
            if (thunk > 0xFFFFFFFFu - 2 || !ReadName(image, size, thunk + 2, name, nameLength)) {
                return Fail(refusal, "import name lies outside the image or is too long");
            }
            bool found = false;
            const std::uint32_t address = FindExport(name, nameLength, offered, offeredCount, found);
            if (!found) {
                refusal.Add("import ").AddName(name, nameLength).Add(" from ").Add(kCoreLibrary);
                return Fail(refusal, " is not offered");
            }
            Write32(image + boundSlot, address);
        }
    }
}

}  // namespace

Refusal& Refusal::Add(const char* text) {
    while (*text != '\0' && length_ + 1 < sizeof text_) text_[length_++] = *text++;
    text_[length_] = '\0';
    return *this;
}

Refusal& Refusal::AddName(const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length && text[i] != '\0' && length_ + 1 < sizeof text_; ++i) {
        const char c = text[i];
        text_[length_++] = c >= 0x20 && c < 0x7F ? c : '?';
    }
    text_[length_] = '\0';
    return *this;
}

Refusal& Refusal::AddHex(std::uint32_t value) {
    char digits[9];
    for (int i = 7; i >= 0; --i) {
        digits[i] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    }
    digits[8] = '\0';
    return Add(digits);
}

Refusal& Refusal::AddDecimal(std::uint32_t value) {
    char digits[11];
    int at = 10;
    digits[at] = '\0';
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return Add(digits + at);
}

bool CheckHeaders(const std::uint8_t* file, std::size_t fileSize, std::uint32_t roomForImage,
                  ImageLayout& layout, Refusal& refusal) {
    if (fileSize < kDosHeaderSize || file[0] != 'M' || file[1] != 'Z') {
        return Fail(refusal, "no MZ header");
    }
    const std::uint32_t peOffset = Read32(file + kPeOffsetField);
    if (peOffset % 4 != 0 || !Inside(peOffset, 4 + kCoffHeaderSize, fileSize)) {
        return Fail(refusal, "PE header lies outside the file");
    }
    if (std::memcmp(file + peOffset, "PE\0\0", 4) != 0) return Fail(refusal, "no PE signature");
    const std::uint8_t* coff = file + peOffset + 4;
    const std::uint16_t machine = Read16(coff);
    if (machine != kMachineArm) {
        return Fail(refusal.Add("machine 0x").AddHex(machine), " is not ARM (0x000001c0)");
    }
    const std::uint16_t sectionCount = Read16(coff + 2);
    const std::uint16_t optionalSize = Read16(coff + 16);
    const std::uint16_t characteristics = Read16(coff + 18);
    if ((characteristics & kExecutableImage) == 0 || (characteristics & kDll) != 0) {
        return Fail(refusal, "not an executable image");
    }
    if ((characteristics & kRelocationsStripped) != 0) {
        return Fail(refusal, "base relocations stripped: the image cannot run at another address");
    }
    const std::uint64_t optionalAt = peOffset + 4 + kCoffHeaderSize;
    if (optionalSize < kDirectoriesOffset ||
        !Inside(optionalAt, optionalSize + static_cast<std::uint64_t>(sectionCount) * kSectionHeaderSize,
                fileSize)) {
        return Fail(refusal, "optional header or section table lies outside the file");
    }
    const std::uint8_t* optional = file + optionalAt;
    if (Read16(optional) != kPe32Magic) return Fail(refusal, "not a PE32 optional header");
    const std::uint16_t subsystem = Read16(optional + 68);
    if (subsystem != kSubsystemWindowsCeGui) {
        return Fail(refusal.Add("subsystem ").AddDecimal(subsystem), " is not Windows CE GUI (9)");
    }
    const std::uint32_t directoryCount = Read32(optional + 92);
    if (static_cast<std::uint64_t>(directoryCount) * 8 > optionalSize - kDirectoriesOffset) {
        return Fail(refusal, "data directories run past the optional header");
    }
    if (sectionCount == 0 || sectionCount > kMostSections) {
        return Fail(refusal.Add("section count ").AddDecimal(sectionCount), " is not sane");
    }
    const std::uint32_t sectionAlignment = Read32(optional + 32);
    const std::uint32_t fileAlignment = Read32(optional + 36);
    if (!PowerOfTwo(sectionAlignment) || sectionAlignment < kSmallestSectionAlignment ||
        !PowerOfTwo(fileAlignment) || fileAlignment < kSmallestFileAlignment ||
        fileAlignment > kLargestFileAlignment || fileAlignment > sectionAlignment) {
        return Fail(refusal, "section or file alignment is not sane");
    }
    if (Read32(optional + 28) % kImageBaseAlignment != 0) {
        return Fail(refusal, "image base is not a multiple of 64 KiB");
    }
    const std::uint32_t sizeOfImage = Read32(optional + 56);
    if (sizeOfImage == 0 || sizeOfImage % sectionAlignment != 0) {
        return Fail(refusal, "image size is not a whole number of sections");
    }
    if (sizeOfImage > roomForImage) {
        refusal.Add("image of ").AddDecimal(sizeOfImage).Add(" bytes is larger than the ");
        return Fail(refusal.AddDecimal(roomForImage), " bytes the process has room for");
    }
    const Headers headers = Locate(file);
    const std::uint64_t headersEnd =
        optionalAt + optionalSize + static_cast<std::uint64_t>(sectionCount) * kSectionHeaderSize;
    if (headers.sizeOfHeaders < headersEnd || headers.sizeOfHeaders > fileSize ||
        headers.sizeOfHeaders > sizeOfImage) {
        return Fail(refusal, "header size does not cover the headers or lies outside the file");
    }
    const std::uint32_t entryRva = Read32(optional + 16);
    if (!CheckSections(fileSize, headers, sectionAlignment, sizeOfImage, entryRva, refusal)) {
        return false;
    }
    const std::uint32_t checkedDirectories[] = {kImportDirectory, kRelocationDirectory};
    for (std::uint32_t index : checkedDirectories) {
        const Directory directory = DirectoryOf(headers, index);
        if (directory.size != 0 && (directory.rva < headers.sizeOfHeaders ||
                                    !Inside(directory.rva, directory.size, sizeOfImage))) {
            return Fail(refusal.Add("data directory ").AddDecimal(index), " lies outside the image");
        }
    }
    layout.preferredBase = Read32(optional + 28);
    layout.sizeOfImage = sizeOfImage;
    layout.entryRva = entryRva;
    return true;
}

std::size_t ListSections(const std::uint8_t* file, SectionPlacement* out, std::size_t room) {
    const Headers headers = Locate(file);
    for (std::uint16_t i = 0; i < headers.sectionCount && i < room; ++i) {
        const SectionSpan span = SpanOf(headers.sections + i * kSectionHeaderSize);
        out[i].rva = span.rva;
        out[i].virtualSize = span.virtualSize;
        out[i].characteristics = span.flags;
    }
    return headers.sectionCount;
}

bool LoadImage(const std::uint8_t* file, std::size_t fileSize, const ImageLayout& layout,
               std::uint8_t* image, std::uint32_t runAddress, const Export* offered,
               std::size_t offeredCount, Refusal& refusal) {
    (void)fileSize;  // CheckHeaders proved every range below inside it
    const Headers headers = Locate(file);
    std::memset(image, 0, layout.sizeOfImage);
    std::memcpy(image, file, headers.sizeOfHeaders);
    for (std::uint16_t i = 0; i < headers.sectionCount; ++i) {
        const SectionSpan span = SpanOf(headers.sections + i * kSectionHeaderSize);
        if (span.rawSize != 0) std::memcpy(image + span.rva, file + span.rawOffset, span.rawSize);
    }
    const Directory relocations = DirectoryOf(headers, kRelocationDirectory);
    const std::uint32_t delta = runAddress - layout.preferredBase;
    if (delta != 0 && !ApplyRelocations(image, layout, relocations, delta, refusal)) return false;
    const Directory imports = DirectoryOf(headers, kImportDirectory);
    if (imports.size == 0) return true;
    return BindImports(image, layout, imports, offered, offeredCount, refusal);
}

}  // namespace ce_process
