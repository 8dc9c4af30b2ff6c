// The stand-in COREDLL's bookkeeping: reservations, mappings, sleeps and
// prints, each call checked against what a Windows CE 4.0 kernel needs.
//
// Memory is plain memory: VirtualAlloc reserves real address space with no
// access, VirtualCopy commits the range read-write (zero-filled), so the
// driver's volatile loads and stores land in ordinary RAM. It is no model of
// the GPIO unit: every register starts at 0 and the level registers do not
// follow the outputs.

#include "coredll_standin.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr std::uint32_t kPageSize = 0x1000;
// CE's winnt.h; desktop headers give 0x400 another meaning.
constexpr std::uint32_t kPagePhysical = 0x400;
constexpr std::uint32_t kAccessBits = 0xFF;
// NKvDbgPrintfW renders into 128 characters, the terminating null included.
constexpr int kDebugPrintCharacters = 128;

// The physical devices VirtualCopy may map: the PXA2xx GPIO unit.
struct Device {
    std::uint64_t physical;
    std::uint64_t size;
};
constexpr Device kDevices[] = {{0x40E00000, 0x10000}};

struct Range {
    bool live;
    bool mapped;
    std::uint32_t base;
    std::uint32_t size;
};
Range ranges[8];

enum class Refusal { None, VirtualAlloc, VirtualCopy };
Refusal refusal = Refusal::None;

unsigned problems = 0;
unsigned prints = 0;
unsigned sleeps = 0;
std::uint64_t sleptMilliseconds = 0;

std::uint32_t Address(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

void Write(DWORD handle, const char* text, std::size_t length) {
    DWORD written = 0;
    WriteFile(GetStdHandle(handle), text, static_cast<DWORD>(length), &written, nullptr);
}

// One line on standard error: "coredll: ", `kind` and the text.
void ReportLine(const char* kind, const char* format, va_list arguments) {
    char line[300] = "coredll: ";
    std::strcat(line, kind);
    const std::size_t prefix = std::strlen(line);
    std::vsnprintf(line + prefix, sizeof line - prefix - 1, format, arguments);
    std::strcat(line, "\n");
    Write(STD_ERROR_HANDLE, line, std::strlen(line));
}

// A call as it was made and answered, or the summary.
__attribute__((format(printf, 1, 2))) void Report(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    ReportLine("", format, arguments);
    va_end(arguments);
}

// Something the CE kernel would not have accepted, or something left behind.
__attribute__((format(printf, 1, 2))) void Problem(const char* format, ...) {
    ++problems;
    va_list arguments;
    va_start(arguments, format);
    ReportLine("problem: ", format, arguments);
    va_end(arguments);
}

Range* RangeAt(std::uint32_t base) {
    for (Range& range : ranges) {
        if (range.live && range.base == base) return &range;
    }
    return nullptr;
}

Range* RangeHolding(std::uint32_t address, std::uint32_t size) {
    for (Range& range : ranges) {
        if (range.live && address >= range.base &&
            std::uint64_t{address} + size <= std::uint64_t{range.base} + range.size) {
            return &range;
        }
    }
    return nullptr;
}

Range* FreeSlot() {
    for (Range& range : ranges) {
        if (!range.live) return &range;
    }
    return nullptr;
}

const Device* DeviceHolding(std::uint64_t physical, std::uint32_t size) {
    for (const Device& device : kDevices) {
        if (physical >= device.physical && physical + size <= device.physical + device.size) return &device;
    }
    return nullptr;
}

void ReadRefusal() {
    char name[64] = "";
    const DWORD length = GetEnvironmentVariableA("COREDLL_REFUSE", name, sizeof name);
    if (length == 0) return;
    if (std::strcmp(name, "VirtualAlloc") == 0) {
        refusal = Refusal::VirtualAlloc;
    } else if (std::strcmp(name, "VirtualCopy") == 0) {
        refusal = Refusal::VirtualCopy;
    } else {
        Problem("COREDLL_REFUSE=%s: only VirtualAlloc or VirtualCopy can be refused", name);
    }
}

// At process exit: whatever is still reserved or mapped was leaked.
void Finish() {
    unsigned left = 0;
    for (const Range& range : ranges) {
        if (!range.live) continue;
        ++left;
        Problem("0x%08x (%u bytes) still %s at exit", range.base, range.size,
                range.mapped ? "mapped" : "reserved");
    }
    Report("summary: %u prints, %u sleeps totalling %llu ms, %u ranges left, %u problems", prints, sleeps,
           static_cast<unsigned long long>(sleptMilliseconds), left, problems);
}

}  // namespace

namespace standin {

// CE reserves with MEM_RESERVE; the program lets the kernel pick the place
// and asks for no access, as a range that VirtualCopy will map must be.
void* VirtualAlloc(void* address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t protect) {
    const unsigned before = problems;
    if (address != nullptr) {
        Problem("VirtualAlloc at 0x%08x: the stand-in only lets the kernel choose", Address(address));
    }
    if (size == 0) Problem("VirtualAlloc of no bytes");
    if (allocationType != MEM_RESERVE) Problem("VirtualAlloc type 0x%08x is not MEM_RESERVE", allocationType);
    if (protect != PAGE_NOACCESS) Problem("VirtualAlloc protection 0x%08x is not PAGE_NOACCESS", protect);
    Range* slot = FreeSlot();
    if (slot == nullptr) {
        Problem("VirtualAlloc: more than %u ranges reserved",
                static_cast<unsigned>(sizeof ranges / sizeof ranges[0]));
    }

    void* base = nullptr;
    const char* note = "";
    if (problems == before && refusal == Refusal::VirtualAlloc) {
        note = " (refused as asked)";
    } else if (problems == before) {
        base = VirtualAllocEx(GetCurrentProcess(), nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
        if (base == nullptr) {
            Problem("VirtualAlloc: the host could not reserve %u bytes", size);
        } else {
            *slot = Range{true, false, Address(base), size};
        }
    }
    Report("VirtualAlloc(0x%08x, 0x%08x, 0x%08x, 0x%08x) = 0x%08x%s", Address(address), size, allocationType,
           protect, Address(base), note);
    return base;
}

// CE maps physical pages into a reserved, not yet mapped range: with
// PAGE_PHYSICAL the source is the physical address shifted right by 8. A
// device's registers need PAGE_NOCACHE, and the driver reads and writes them.
bool VirtualCopy(void* destination, void* source, std::uint32_t size, std::uint32_t protect) {
    const unsigned before = problems;
    const std::uint32_t target = Address(destination);
    const std::uint64_t physical = std::uint64_t{Address(source)} << 8;
    if (target % kPageSize != 0) Problem("VirtualCopy destination 0x%08x is not page-aligned", target);
    if (size == 0) Problem("VirtualCopy of no bytes");
    Range* range = RangeHolding(target, size);
    if (range == nullptr) {
        Problem("VirtualCopy destination 0x%08x (%u bytes) is not inside a reserved range", target, size);
    } else if (range->mapped) {
        Problem("VirtualCopy destination 0x%08x is already mapped", target);
    }
    if ((protect & kPagePhysical) == 0) {
        Problem("VirtualCopy protection 0x%08x lacks PAGE_PHYSICAL: the source would be a virtual address",
                protect);
    } else if (physical % kPageSize != 0 || DeviceHolding(physical, size) == nullptr) {
        Problem(
            "VirtualCopy source 0x%08x names physical 0x%llx (%u bytes), which is no device here "
            "(PAGE_PHYSICAL takes the physical address >> 8)",
            Address(source), static_cast<unsigned long long>(physical), size);
    }
    if ((protect & PAGE_NOCACHE) == 0) {
        Problem("VirtualCopy protection 0x%08x lacks PAGE_NOCACHE: device registers must be uncached",
                protect);
    }
    if ((protect & kAccessBits) != PAGE_READWRITE) {
        Problem("VirtualCopy protection 0x%08x is not PAGE_READWRITE access", protect);
    }
    if ((protect & ~(kAccessBits | PAGE_NOCACHE | kPagePhysical)) != 0) {
        Problem("VirtualCopy protection 0x%08x has unexpected bits", protect);
    }

    bool mapped = false;
    const char* note = "";
    if (problems == before && refusal == Refusal::VirtualCopy) {
        note = " (refused as asked)";
    } else if (problems == before) {
        // Committed pages read as zero: every register starts at 0.
        if (VirtualAllocEx(GetCurrentProcess(), destination, size, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
            Problem("VirtualCopy: the host could not back 0x%08x", target);
        } else {
            range->mapped = mapped = true;
        }
    }
    Report("VirtualCopy(0x%08x, 0x%08x, 0x%08x, 0x%08x) = %d%s", target, Address(source), size, protect,
           mapped ? 1 : 0, note);
    return mapped;
}

// A range goes back whole: its base, size 0, MEM_RELEASE.
bool VirtualFree(void* address, std::uint32_t size, std::uint32_t freeType) {
    const unsigned before = problems;
    Range* range = RangeAt(Address(address));
    if (range == nullptr) {
        Problem("VirtualFree of 0x%08x, which is not the base of a reserved range", Address(address));
    }
    if (size != 0) Problem("VirtualFree size %u: MEM_RELEASE takes 0", size);
    if (freeType != MEM_RELEASE) Problem("VirtualFree type 0x%08x is not MEM_RELEASE", freeType);

    const bool released = problems == before;
    if (released) {
        VirtualFreeEx(GetCurrentProcess(), address, 0, MEM_RELEASE);
        range->live = false;
    }
    Report("VirtualFree(0x%08x, 0x%08x, 0x%08x) = %d", Address(address), size, freeType, released ? 1 : 0);
    return released;
}

// Returns at once; the time asked for is added up.
void Sleep(std::uint32_t milliseconds) {
    ++sleeps;
    sleptMilliseconds += milliseconds;
    Report("Sleep(%u)", milliseconds);
}

// Renders as the kernel does, into its 128 characters, and writes the text
// to standard output as UTF-8, byte for byte: no line ending added, none
// translated.
void DebugPrint(const wchar_t* format, va_list arguments) {
    ++prints;
    if (format == nullptr) {
        Problem("NKvDbgPrintfW with a null format");
        return;
    }
    wchar_t text[kDebugPrintCharacters];
    int length = _vsnwprintf(text, kDebugPrintCharacters, format, arguments);
    if (length < 0 || length >= kDebugPrintCharacters) {
        length = kDebugPrintCharacters - 1;
        text[length] = L'\0';
        Problem("NKvDbgPrintfW: message longer than %d characters, cut: \"%.40ls...\"", length, text);
    }
    char utf8[kDebugPrintCharacters * 3];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, sizeof utf8, nullptr, nullptr);
    Write(STD_OUTPUT_HANDLE, utf8, static_cast<std::size_t>(bytes));
}

}  // namespace standin

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ReadRefusal();
    if (reason == DLL_PROCESS_DETACH) Finish();
    return TRUE;
}
