#ifndef TESTS_SUPPORT_BOARD_FIXTURE_H
#define TESTS_SUPPORT_BOARD_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulated_board.h"

// Every test starts on a freshly powered-up board with the trace captured and
// the virtual clock running. A bus fault fails the test unless the test says
// it expects one.
class BoardTest : public ::testing::Test {
protected:
    using Access = host::PxaGpioModel::Access;

    void SetUp() override;
    void TearDown() override;

    host::SimulatedBoard& Board() { return host::SimulatedBoard::Instance(); }
    host::PxaGpioModel& Gpio() { return Board().Gpio(); }
    const std::string& Trace() { return Board().Trace(); }
    const std::vector<Access>& Log() { return Gpio().AccessLog(); }

    // Records bus faults instead of failing the test.
    void ExpectFaults() { faultsExpected_ = true; }
    const std::vector<std::string>& Faults() const { return faults_; }

    // Forget what set-up code did, so a test sees only its own accesses and text.
    void ClearRecords();

private:
    bool faultsExpected_ = false;
    std::vector<std::string> faults_;
};

// The log as text, one access a line, so a mismatch shows where it starts.
std::string Describe(const std::vector<host::PxaGpioModel::Access>& log);

#endif  // TESTS_SUPPORT_BOARD_FIXTURE_H
