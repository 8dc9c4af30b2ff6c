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
    const char* name;
    std::uint64_t physical;
    std::uint64_t size;
};
constexpr Device kDevices[] = {{"GPIO unit", 0x40E00000, 0x10000}};

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

// One line on standard error: "coredll: " and the text.
__attribute__((format(printf, 1, 2))) void Report(const char* format, ...) {
    char line[300] = "coredll: ";
    const std::size_t prefix = std::strlen(line);
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line + prefix, sizeof line - prefix - 1, format, arguments);
    va_end(arguments);
    std::strcat(line, "\n");
    Write(STD_ERROR_HANDLE, line, std::strlen(line));
}

#define PROBLEM(format, ...) (++problems, Report("problem: " format, __VA_ARGS__))

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
        PROBLEM("COREDLL_REFUSE=%s: only VirtualAlloc or VirtualCopy can be refused", name);
    }
}

// At process exit: whatever is still reserved or mapped was leaked.
void Finish() {
    unsigned left = 0;
    for (const Range& range : ranges) {
        if (!range.live) continue;
        ++left;
        PROBLEM("0x%08x (%u bytes) still %s at exit", static_cast<unsigned>(range.base),
                static_cast<unsigned>(range.size), range.mapped ? "mapped" : "reserved");
    }
    Report("summary: %u prints, %u sleeps totalling %llu ms, %u ranges left, %u problems", prints,
           sleeps, static_cast<unsigned long long>(sleptMilliseconds), left, problems);
}

}  // namespace

namespace standin {

// CE reserves with MEM_RESERVE; the program lets the kernel pick the place
// and asks for no access, as a range that VirtualCopy will map must be.
void* VirtualAlloc(void* address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t protect) {
    const unsigned before = problems;
    if (address != nullptr) PROBLEM("VirtualAlloc at 0x%08x: the stand-in only lets the kernel choose", static_cast<unsigned>(Address(address)));
    if (size == 0) PROBLEM("VirtualAlloc of %u bytes", 0u);
    if (allocationType != MEM_RESERVE) PROBLEM("VirtualAlloc type 0x%08x is not MEM_RESERVE", static_cast<unsigned>(allocationType));
    if (protect != PAGE_NOACCESS) PROBLEM("VirtualAlloc protection 0x%08x is not PAGE_NOACCESS", static_cast<unsigned>(protect));
    Range* slot = FreeSlot();
    if (slot == nullptr) PROBLEM("VirtualAlloc: more than %u ranges reserved", static_cast<unsigned>(sizeof ranges / sizeof ranges[0]));

    void* base = nullptr;
    const char* note = "";
    if (problems != before) {
    } else if (refusal == Refusal::VirtualAlloc) {
        note = " (refused as asked)";
    } else {
        base = VirtualAllocEx(GetCurrentProcess(), nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
        if (base == nullptr) PROBLEM("VirtualAlloc: the host could not reserve %u bytes", static_cast<unsigned>(size));
        else *slot = Range{true, false, Address(base), size};
    }
    Report("VirtualAlloc(0x%08x, 0x%08x, 0x%08x, 0x%08x) = 0x%08x%s", static_cast<unsigned>(Address(address)),
           static_cast<unsigned>(size), static_cast<unsigned>(allocationType), static_cast<unsigned>(protect),
           static_cast<unsigned>(Address(base)), note);
    return base;
}

// CE maps physical pages into a reserved, not yet mapped range: with
// PAGE_PHYSICAL the source is the physical address shifted right by 8. A
// device's registers need PAGE_NOCACHE, and the driver reads and writes them.
bool VirtualCopy(void* destination, void* source, std::uint32_t size, std::uint32_t protect) {
    const unsigned before = problems;
    const std::uint32_t target = Address(destination);
    const std::uint64_t physical = std::uint64_t{Address(source)} << 8;
    if (target % kPageSize != 0) PROBLEM("VirtualCopy destination 0x%08x is not page-aligned", static_cast<unsigned>(target));
    if (size == 0) PROBLEM("VirtualCopy of %u bytes", 0u);
    Range* range = RangeHolding(target, size);
    if (range == nullptr) {
        PROBLEM("VirtualCopy destination 0x%08x (%u bytes) is not inside a reserved range", static_cast<unsigned>(target),
                static_cast<unsigned>(size));
    } else if (range->mapped) {
        PROBLEM("VirtualCopy destination 0x%08x is already mapped", static_cast<unsigned>(target));
    }
    if ((protect & kPagePhysical) == 0) {
        PROBLEM("VirtualCopy protection 0x%08x lacks PAGE_PHYSICAL: the source would be a virtual address",
                static_cast<unsigned>(protect));
    } else if (physical % kPageSize != 0 || DeviceHolding(physical, size) == nullptr) {
        PROBLEM("VirtualCopy source 0x%08x names physical 0x%llx (%u bytes), which is no device here "
                "(PAGE_PHYSICAL takes the physical address >> 8)",
                static_cast<unsigned>(Address(source)), static_cast<unsigned long long>(physical), static_cast<unsigned>(size));
    }
    if ((protect & PAGE_NOCACHE) == 0) PROBLEM("VirtualCopy protection 0x%08x lacks PAGE_NOCACHE: device registers must be uncached", static_cast<unsigned>(protect));
    if ((protect & kAccessBits) != PAGE_READWRITE) PROBLEM("VirtualCopy protection 0x%08x is not PAGE_READWRITE access", static_cast<unsigned>(protect));
    if ((protect & ~(kAccessBits | PAGE_NOCACHE | kPagePhysical)) != 0) PROBLEM("VirtualCopy protection 0x%08x has unexpected bits", static_cast<unsigned>(protect));

    bool mapped = false;
    const char* note = "";
    if (problems != before) {
    } else if (refusal == Refusal::VirtualCopy) {
        note = " (refused as asked)";
    } else if (VirtualAllocEx(GetCurrentProcess(), destination, size, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
        PROBLEM("VirtualCopy: the host could not back 0x%08x", static_cast<unsigned>(target));
    } else {
        range->mapped = mapped = true;
    }
    Report("VirtualCopy(0x%08x, 0x%08x, 0x%08x, 0x%08x) = %d%s", static_cast<unsigned>(target),
           static_cast<unsigned>(Address(source)), static_cast<unsigned>(size), static_cast<unsigned>(protect),
           mapped ? 1 : 0, note);
    return mapped;
}

// A range goes back whole: its base, size 0, MEM_RELEASE.
bool VirtualFree(void* address, std::uint32_t size, std::uint32_t freeType) {
    const unsigned before = problems;
    Range* range = RangeAt(Address(address));
    if (range == nullptr) PROBLEM("VirtualFree of 0x%08x, which is not the base of a reserved range", static_cast<unsigned>(Address(address)));
    if (size != 0) PROBLEM("VirtualFree size %u: MEM_RELEASE takes 0", static_cast<unsigned>(size));
    if (freeType != MEM_RELEASE) PROBLEM("VirtualFree type 0x%08x is not MEM_RELEASE", static_cast<unsigned>(freeType));

    const bool released = problems == before;
    if (released) {
        VirtualFreeEx(GetCurrentProcess(), address, 0, MEM_RELEASE);
        range->live = false;
    }
    Report("VirtualFree(0x%08x, 0x%08x, 0x%08x) = %d", static_cast<unsigned>(Address(address)),
           static_cast<unsigned>(size), static_cast<unsigned>(freeType), released ? 1 : 0);
    return released;
}

// Returns at once; the time asked for is added up.
void Sleep(std::uint32_t milliseconds) {
    ++sleeps;
    sleptMilliseconds += milliseconds;
    Report("Sleep(%u)", static_cast<unsigned>(milliseconds));
}

// Renders as the kernel does, into its 128 characters, and writes the text
// to standard output as UTF-8, byte for byte: no line ending added, none
// translated.
void DebugPrint(const wchar_t* format, va_list arguments) {
    ++prints;
    if (format == nullptr) {
        PROBLEM("NKvDbgPrintfW with a null format%s", "");
        return;
    }
    wchar_t text[kDebugPrintCharacters];
    int length = _vsnwprintf(text, kDebugPrintCharacters, format, arguments);
    if (length < 0 || length >= kDebugPrintCharacters) {
        length = kDebugPrintCharacters - 1;
        text[length] = L'\0';
        PROBLEM("NKvDbgPrintfW: message longer than %d characters, cut: \"%.40ls...\"", length, text);
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
