// A Windows CE executable from outside, as the CE process reads it (once,
// from memory, at its real size): its headers checked, its sections listed,
// its image built at another base with its relocations applied and its
// imports bound.

#include <cstddef>
#include <cstdint>

#include "pe_image.h"

namespace {

constexpr std::uint32_t kRoom = 1u << 20;
std::uint8_t image[kRoom];

const ce_process::Export kOffered[] = {
    {"VirtualAlloc", 0xA0001000}, {"VirtualCopy", 0xA0001004}, {"VirtualFree", 0xA0001008},
    {"Sleep", 0xA000100C},        {"NKDbgPrintfW", 0xA0001010}, {"LocalAlloc", 0xA0001014},
    {"LocalFree", 0xA0001018},    {"ExitThread", 0xA000101C},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ce_process::ImageLayout layout;
    ce_process::Refusal refusal;
    if (ce_process::CheckHeaders(data, size, kRoom, layout, refusal)) {
        ce_process::SectionPlacement sections[4];
        ce_process::ListSections(data, sections, 4);
        ce_process::LoadImage(data, size, layout, image, 0x00100000, kOffered,
                             sizeof kOffered / sizeof kOffered[0], refusal);
    }
    return 0;
}
