#include "TolvarGPIO.h"

#include "platform.h"

using namespace platform;

namespace {

constexpr std::uint8_t kLineMask = 0x3;
constexpr std::uint8_t kMaskGpio33 = 0x2;
constexpr std::uint8_t kMaskGpio80 = 0x1;

// Bit of each line in its bank's level, direction, set and clear registers.
constexpr std::uint32_t kGpio33Bit = 1u << (33 - 32);  // bank 1
constexpr std::uint32_t kGpio80Bit = 1u << (80 - 64);  // bank 2

// Each line's 2-bit function field; 0 selects plain GPIO.
constexpr std::uint32_t kGpio33Function = 0x3u << (2 * (33 - 32));  // GAFR1_L: GPIO32..47
constexpr std::uint32_t kGpio80Function = 0x3u << (2 * (80 - 80));  // GAFR2_U: GPIO80..95

constexpr DWORD kDeviceProtection = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;

// Shows a configuration register before and after a read-modify-write. Each
// of the three reads goes to the device, so the report shows what the
// hardware holds, not what was meant to be written.
void UpdateReported(volatile std::uint32_t* reg, const wchar_t* changedFromMessage,
                    std::uint32_t clearBits, std::uint32_t setBits) {
    NKDbgPrintfW(changedFromMessage, static_cast<unsigned>(ReadRegister32(reg)));
    WriteRegister32(reg, (ReadRegister32(reg) & ~clearBits) | setBits);
    NKDbgPrintfW(L"to 0x%08x ", static_cast<unsigned>(ReadRegister32(reg)));
}

void OrInto(volatile std::uint32_t* reg, std::uint32_t bit) {
    WriteRegister32(reg, ReadRegister32(reg) | bit);
}

}  // namespace

TolvarGPIO::TolvarGPIO(std::uint8_t directionMask)
    : GpioRegs(nullptr), DirectionMask(directionMask) {
    NKDbgPrintfW(L"+TolvarGPIO(%i)\r\n", static_cast<int>(directionMask));
    GpioRegs = MapRegisters(kGpioPhysicalBase);
    if (GpioRegs != nullptr) {
        // Inputs while the function changes, so nothing is driven by accident.
        SetDirection(0);
        UpdateReported(&GpioRegs->GAFR1_L, L"    GAFR1_L changed from 0x%08x ", kGpio33Function, 0);
        UpdateReported(&GpioRegs->GAFR2_U, L"    GAFR2_U changed from 0x%08x ", kGpio80Function, 0);
        SetDirection(directionMask);
    }
    NKDbgPrintfW(L"-TolvarGPIO()\r\n");
}

TolvarGPIO::~TolvarGPIO() {
    NKDbgPrintfW(L"+~TolvarGPIO()\r\n");
    if (GpioRegs != nullptr) UnmapRegisters(GpioRegs);
    NKDbgPrintfW(L"-~TolvarGPIO()\r\n");
}

void TolvarGPIO::SetDirection(std::uint8_t mask) {
    if (GpioRegs == nullptr) return;
    NKDbgPrintfW(L"+SetDirection()\r\n");
    mask &= kLineMask;
    UpdateReported(&GpioRegs->GPDR1, L"    GPDR1 changed from 0x%08x ", kGpio33Bit,
                   (mask & kMaskGpio33) != 0 ? kGpio33Bit : 0);
    UpdateReported(&GpioRegs->GPDR2, L"    GPDR2 changed from 0x%08x ", kGpio80Bit,
                   (mask & kMaskGpio80) != 0 ? kGpio80Bit : 0);
    DirectionMask = mask;
    NKDbgPrintfW(L"-SetDirection()\r\n");
}

void TolvarGPIO::WriteLines(std::uint8_t value) {
    if (GpioRegs == nullptr) return;
    value &= kLineMask;
    if ((DirectionMask & kMaskGpio33) != 0) {
        OrInto((value & kMaskGpio33) != 0 ? &GpioRegs->GPSR1 : &GpioRegs->GPCR1, kGpio33Bit);
    }
    if ((DirectionMask & kMaskGpio80) != 0) {
        OrInto((value & kMaskGpio80) != 0 ? &GpioRegs->GPSR2 : &GpioRegs->GPCR2, kGpio80Bit);
    }
}

std::uint8_t TolvarGPIO::ReadLines() {
    std::uint8_t levels = 0;
    if (GpioRegs == nullptr) return levels;
    if ((DirectionMask & kMaskGpio33) == 0 && (ReadRegister32(&GpioRegs->GPLR1) & kGpio33Bit) != 0) {
        levels |= kMaskGpio33;
    }
    if ((DirectionMask & kMaskGpio80) == 0 && (ReadRegister32(&GpioRegs->GPLR2) & kGpio80Bit) != 0) {
        levels |= kMaskGpio80;
    }
    return levels;
}

void* TolvarGPIO::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateObjectStorage(size);
}

void TolvarGPIO::operator delete(void* storage) noexcept { FreeObjectStorage(storage); }

void TolvarGPIO::operator delete(void* storage, const std::nothrow_t&) noexcept {
    FreeObjectStorage(storage);
}

GpioRegisterBlock* MapRegisters(std::uint32_t physicalAddress) {
    LPVOID base = VirtualAlloc(nullptr, kGpioWindowSize, MEM_RESERVE, PAGE_NOACCESS);
    if (base == nullptr) {
        NKDbgPrintfW(L"Error! at VirtualAlloc()\r\n");
        return nullptr;
    }
    // With PAGE_PHYSICAL the source is the physical address divided by 256.
    LPVOID physicalPages = reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(physicalAddress >> 8));
    if (VirtualCopy(base, physicalPages, kGpioWindowSize, kDeviceProtection) != 1) {
        NKDbgPrintfW(L"Error! at VirtualCopy()\r\n");
        VirtualFree(base, 0, MEM_RELEASE);  // don't leave the reservation behind
        return nullptr;
    }
    // Mappings live in the 32-bit address space of the target.
    NKDbgPrintfW(L"0x%08x mapped to: 0x%08x\r\n", static_cast<unsigned>(physicalAddress),
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(base)));
    return static_cast<GpioRegisterBlock*>(base);
}

void UnmapRegisters(GpioRegisterBlock* address) {
    VirtualFree(address, 0, MEM_RELEASE);
}
