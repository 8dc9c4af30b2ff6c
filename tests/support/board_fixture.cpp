#include "board_fixture.h"

void BoardTest::SetUp() {
    Board().PowerUp();
    Board().CaptureTrace();
    Board().UseVirtualClock();
    Board().SetFaultHandler([this](const std::string& message) {
        faults_.push_back(message);
        if (!faultsExpected_) ADD_FAILURE() << "bus fault: " << message;
    });
}

void BoardTest::TearDown() { Board().PowerUp(); }

void BoardTest::ClearRecords() {
    Gpio().ClearAccessLog();
    Board().ClearTrace();
}

std::string Describe(const std::vector<host::PxaGpioModel::Access>& log) {
    std::string text;
    for (const auto& access : log) text += host::FormatAccess(access) + "\n";
    return text;
}
