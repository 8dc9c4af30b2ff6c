#include "TolvarGPIOTest.h"

#include <new>

#include "TolvarGPIO.h"
#include "platform.h"

using namespace platform;

namespace {

constexpr std::uint8_t kBothOutputs = 0x3;
constexpr std::uint8_t kBothInputs = 0x0;
constexpr int kWriteCycles = 30;
constexpr std::uint8_t kPatterns = 4;  // 0 to 3: every 2-bit value
constexpr DWORD kWriteStepMs = 500;
constexpr int kReadSamples = 600;
constexpr DWORD kReadStepMs = 10;

constexpr int kExercised = 0;
constexpr int kNotExercised = 1;

void RunWritePhase(TolvarGPIO& gpio) {
    for (int cycle = 0; cycle < kWriteCycles; ++cycle) {
        for (std::uint8_t pattern = 0; pattern < kPatterns; ++pattern) {
            NKDbgPrintfW(L"Writing 0x%02x\r", static_cast<unsigned>(pattern));
            gpio.WriteLines(pattern);
            Sleep(kWriteStepMs);
        }
    }
}

void RunReadPhase(TolvarGPIO& gpio) {
    for (int sample = 0; sample < kReadSamples; ++sample) {
        const std::uint8_t levels = gpio.ReadLines();
        NKDbgPrintfW(L"Read value: 0x%02x\r", static_cast<unsigned>(levels));
        Sleep(kReadStepMs);
    }
}

}  // namespace

int TolvarGPIOTest(void* /*instance*/, void* /*previousInstance*/, wchar_t* /*commandLine*/,
                   int /*showCommand*/) {
    NKDbgPrintfW(L"+TolvarGPIOTest\r\n");
    int result = kNotExercised;
    TolvarGPIO* gpio = new (std::nothrow) TolvarGPIO(kBothOutputs);
    if (gpio == nullptr) {
        NKDbgPrintfW(L"Error! at new TolvarGPIO()\r\n");
    } else if (gpio->IsMapped()) {  // otherwise the driver has said what failed
        RunWritePhase(*gpio);
        gpio->SetDirection(kBothInputs);
        NKDbgPrintfW(L"\r\n");
        RunReadPhase(*gpio);
        result = kExercised;
    }
    if (gpio != nullptr) delete gpio;
    NKDbgPrintfW(L"\r\n-TolvarGPIOTest\r\n");
    return result;
}
