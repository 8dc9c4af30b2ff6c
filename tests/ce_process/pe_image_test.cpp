// The Windows CE executable's reader on hand-made files: one sound image,
// and one fault at a time that CE's loader would refuse or that the loader
// cannot bind, each refused with a message saying what is wrong.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pe_image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& file, std::size_t at, std::uint16_t value) {
    file[at] = static_cast<std::uint8_t>(value);
    file[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Bytes& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Get32(const std::uint8_t* at) {
    std::uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

// Where the fields of the sound file lie.
constexpr std::size_t kCoff = 0x44;
constexpr std::size_t kOptional = 0x58;
constexpr std::size_t kSections = kOptional + 224;
constexpr std::size_t kText = 0x200, kIdata = 0x400, kReloc = 0x600;  // in the file
constexpr std::uint32_t kPreferredBase = 0x10000;
constexpr std::uint32_t kRunAddress = 0xA0400000;

void PutSection(Bytes& file, int index, const char* name, std::uint32_t rva, std::uint32_t raw,
                std::uint32_t flags) {
    const std::size_t at = kSections + 40 * index;
    std::memcpy(&file[at], name, std::strlen(name));
    Put32(file, at + 8, 0x100);   // virtual size
    Put32(file, at + 12, rva);
    Put32(file, at + 16, 0x200);  // raw size
    Put32(file, at + 20, raw);
    Put32(file, at + 36, flags);
}

// Code at 0x1000 whose word at 0x1004 holds the address of 0x2040; imports
// of Sleep and VirtualCopy from COREDLL.dll; one HIGHLOW relocation.
Bytes SoundFile() {
    Bytes file(0x800, 0);
    file[0] = 'M';
    file[1] = 'Z';
    Put32(file, 0x3C, 0x40);
    std::memcpy(&file[0x40], "PE\0\0", 4);
    Put16(file, kCoff, 0x01C0);
    Put16(file, kCoff + 2, 3);
    Put16(file, kCoff + 16, 224);
    Put16(file, kCoff + 18, 0x0102);
    Put16(file, kOptional, 0x10B);
    Put32(file, kOptional + 16, 0x1000);  // entry
    Put32(file, kOptional + 28, kPreferredBase);
    Put32(file, kOptional + 32, 0x1000);
    Put32(file, kOptional + 36, 0x200);
    Put32(file, kOptional + 56, 0x4000);  // size of image
    Put32(file, kOptional + 60, 0x200);   // size of headers
    Put16(file, kOptional + 68, 9);
    Put32(file, kOptional + 92, 16);
    Put32(file, kOptional + 96 + 8, 0x2000);  // imports
    Put32(file, kOptional + 96 + 12, 40);
    Put32(file, kOptional + 96 + 40, 0x3000);  // base relocations
    Put32(file, kOptional + 96 + 44, 12);
    PutSection(file, 0, ".text", 0x1000, kText, 0x60000020);
    PutSection(file, 1, ".idata", 0x2000, kIdata, 0xC0000040);
    PutSection(file, 2, ".reloc", 0x3000, kReloc, 0x42000040);

    Put32(file, kText + 4, kPreferredBase + 0x2040);
    Put32(file, kIdata + 0, 0x2040);   // names
    Put32(file, kIdata + 12, 0x2080);  // library
    Put32(file, kIdata + 16, 0x2060);  // slots
    for (std::size_t list : {0x40u, 0x60u}) {
        Put32(file, kIdata + list, 0x20A0);
        Put32(file, kIdata + list + 4, 0x20B0);
    }
    std::memcpy(&file[kIdata + 0x80], "COREDLL.dll", 11);
    std::memcpy(&file[kIdata + 0xA2], "Sleep", 5);
    std::memcpy(&file[kIdata + 0xB2], "VirtualCopy", 11);
    Put32(file, kReloc, 0x1000);
    Put32(file, kReloc + 4, 12);
    Put16(file, kReloc + 8, 0x3004);
    return file;
}

const ce_process::Export kOffered[] = {{"Sleep", 0xA0001111}, {"VirtualCopy", 0xA0002222}};

struct Fault {
    const char* name;
    std::function<void(Bytes&)> apply;
    const char* refusal;  // a part of the message
};

const Fault kFaults[] = {
    {"NoMzHeader", [](Bytes& f) { f[1] = 'Y'; }, "no MZ header"},
    {"PeHeaderPastTheEnd", [](Bytes& f) { Put32(f, 0x3C, 0xFFFFFFF0); }, "PE header lies outside the file"},
    {"NoPeSignature", [](Bytes& f) { f[0x41] = 'X'; }, "no PE signature"},
    {"ThumbMachine", [](Bytes& f) { Put16(f, kCoff, 0x01C4); }, "machine 0x000001c4 is not ARM"},
    {"X86Machine", [](Bytes& f) { Put16(f, kCoff, 0x014C); }, "machine 0x0000014c is not ARM"},
    {"RelocationsStripped", [](Bytes& f) { Put16(f, kCoff + 18, 0x0103); }, "relocations stripped"},
    {"ALibrary", [](Bytes& f) { Put16(f, kCoff + 18, 0x2102); }, "not an executable image"},
    {"Pe32Plus", [](Bytes& f) { Put16(f, kOptional, 0x20B); }, "not a PE32 optional header"},
    {"WindowsGuiSubsystem", [](Bytes& f) { Put16(f, kOptional + 68, 2); }, "subsystem 2 is not Windows CE GUI"},
    {"NoSections", [](Bytes& f) { Put16(f, kCoff + 2, 0); }, "section count 0"},
    {"UnalignedImageBase", [](Bytes& f) { Put32(f, kOptional + 28, 0x11000); }, "image base"},
    {"OddSectionAlignment", [](Bytes& f) { Put32(f, kOptional + 32, 0x1800); }, "alignment"},
    {"TooLargeForTheBoard", [](Bytes& f) { Put32(f, kOptional + 56, 0x10000000); }, "larger than"},
    {"HeadersPastTheFile", [](Bytes& f) { Put32(f, kOptional + 60, 0x1000); }, "header size"},
    {"SectionPastTheImage", [](Bytes& f) { Put32(f, kSections + 80 + 12, 0x4000); }, ".reloc lies outside the image"},
    {"SectionDataPastTheFile", [](Bytes& f) { Put32(f, kSections + 40 + 20, 0x700); }, ".idata lies outside the file"},
    {"OverlappingSections", [](Bytes& f) { Put32(f, kSections + 8, 0x1100); }, ".idata overlaps"},
    {"EntryInData", [](Bytes& f) { Put32(f, kOptional + 16, 0x2000); }, "entry point 0x00002000"},
    {"ThumbEntry", [](Bytes& f) { Put32(f, kOptional + 16, 0x1001); }, "is not ARM code"},
    {"DirectoryPastTheImage", [](Bytes& f) { Put32(f, kOptional + 96 + 40, 0x3FFC); }, "data directory 5"},
    {"MisnamedImport", [](Bytes& f) { std::memcpy(&f[kIdata + 0xB2], "VirtualCoyp", 11); },
     "import VirtualCoyp from COREDLL.dll is not offered"},
    {"OtherLibrary", [](Bytes& f) { std::memcpy(&f[kIdata + 0x80], "KERNEL32.dll", 12); },
     "imports from KERNEL32.dll: only COREDLL.dll"},
    {"ImportByOrdinal", [](Bytes& f) { Put32(f, kIdata + 0x44, 0x80000010); }, "import by ordinal 16"},
    {"EndlessImportName", [](Bytes& f) { Put32(f, kIdata + 0x44, 0x0FFE); std::memset(&f[kText], 'A', 0x100); },
     "import name lies outside the image or is too long"},
    {"NoImportTerminator", [](Bytes& f) { Put32(f, kOptional + 96 + 12, 20); }, "no terminating entry"},
    {"ArmMov32Relocation", [](Bytes& f) { Put16(f, kReloc + 8, 0x5004); }, "base relocation type 5 at 0x00001004"},
    {"RelocationBlockTooLong", [](Bytes& f) { Put32(f, kReloc + 4, 16); }, "bad size"},
    {"RelocationPastTheImage", [](Bytes& f) { Put32(f, kReloc, 0x3FFE); Put16(f, kReloc + 8, 0x3000); },
     "lies outside the image"},
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class RefusedFile : public testing::TestWithParam<Fault> {};

TEST_P(RefusedFile, IsRefusedWithAMessageSayingWhy) {
    Bytes file = SoundFile();
    GetParam().apply(file);
    static std::uint8_t image[0x4000];
    ce_process::ImageLayout layout;
    ce_process::Refusal refusal;
    const bool loaded =
        ce_process::CheckHeaders(file.data(), file.size(), 0x100000, layout, refusal) &&
        ce_process::LoadImage(file.data(), file.size(), layout, image, kRunAddress, kOffered, 2, refusal);
    EXPECT_FALSE(loaded);
    EXPECT_NE(std::string(refusal.Text()).find(GetParam().refusal), std::string::npos) << refusal.Text();
}

INSTANTIATE_TEST_SUITE_P(CeExecutable, RefusedFile, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault>& info) { return info.param.name; });

// A file that must load: checked for an image of 0x4000 bytes, then placed
// at the run address.
void LoadSoundImage(const Bytes& file, std::vector<std::uint8_t>& image, ce_process::ImageLayout& layout) {
    ce_process::Refusal refusal;
    ASSERT_TRUE(ce_process::CheckHeaders(file.data(), file.size(), 0x4000, layout, refusal)) << refusal.Text();
    ASSERT_TRUE(ce_process::LoadImage(file.data(), file.size(), layout, image.data(), kRunAddress, kOffered, 2,
                                     refusal))
        << refusal.Text();
}

TEST(CeExecutable, SoundFileIsRelocatedToItsRunAddressAndBoundByName) {
    const Bytes file = SoundFile();
    std::vector<std::uint8_t> image(0x4000, 0xEE);
    ce_process::ImageLayout layout;
    ASSERT_NO_FATAL_FAILURE(LoadSoundImage(file, image, layout));
    EXPECT_EQ(layout.entryRva, 0x1000u);
    EXPECT_EQ(Get32(&image[0x1004]), kRunAddress + 0x2040);
    EXPECT_EQ(Get32(&image[0x2060]), 0xA0001111u);
    EXPECT_EQ(Get32(&image[0x2064]), 0xA0002222u);
    EXPECT_EQ(Get32(&image[0x2040]), 0x20A0u);  // the name list stays as it was
    EXPECT_EQ(image[0x1100], 0u);                // past the section's data: zero
    EXPECT_EQ(image[0x3FFF], 0u);
}

// A file's raw size is rounded up to the file alignment and may well exceed
// the section's virtual size; only the virtual size is the section's. Here
// the last section's raw data runs 0x1000 bytes past the image: the bytes
// past its virtual size stay zero and nothing past the image is written.
TEST(CeExecutable, RawDataPastASectionsVirtualSizeIsNotCopied) {
    Bytes file = SoundFile();
    file.resize(kReloc + 0x2000, 0xAB);
    Put32(file, kSections + 80 + 16, 0x2000);  // .reloc: raw size 0x2000, virtual size 0x100
    std::vector<std::uint8_t> image(0x6000, 0xEE);  // the image, then room it must not touch
    ce_process::ImageLayout layout;
    ASSERT_NO_FATAL_FAILURE(LoadSoundImage(file, image, layout));
    EXPECT_EQ(Get32(&image[0x3000]), 0x1000u);  // the section's own data is there
    bool zeroPastTheSection = true;
    for (std::size_t at = 0x3100; at < 0x4000; ++at) zeroPastTheSection = zeroPastTheSection && image[at] == 0;
    EXPECT_TRUE(zeroPastTheSection);
    bool untouchedPastTheImage = true;
    for (std::size_t at = 0x4000; at < image.size(); ++at) untouchedPastTheImage = untouchedPastTheImage && image[at] == 0xEE;
    EXPECT_TRUE(untouchedPastTheImage) << "bytes written past the image's end";
}

}  // namespace
