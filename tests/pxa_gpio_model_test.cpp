// The simulated GPIO unit must behave as the PXA27x does, or the driver's
// tests prove nothing.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expected_trace.h"
#include "pxa_gpio_model.h"

namespace {

using host::PxaGpioModel;

class PxaGpioModelTest : public ::testing::Test {
protected:
    PxaGpioModelTest() {
        gpio.SetFaultHandler([this](const std::string& message) { faults.push_back(message); });
    }
    std::uint32_t Read(std::uint32_t offset) { return gpio.Read(offset, 4); }
    void Write(std::uint32_t offset, std::uint32_t value) { gpio.Write(offset, value, 4); }

    PxaGpioModel gpio;
    std::vector<std::string> faults;
};

TEST_F(PxaGpioModelTest, LevelShowsTheLatchForOutputsAndThePinForInputs) {
    Write(0x10, 0x0000FFFF);  // GPDR1: GPIO32..47 outputs
    Write(0x1C, 0x00FF00FF);  // GPSR1
    gpio.DriveLine(32 + 20, true);  // an input, driven high
    gpio.DriveLine(32 + 1, true);   // an output: the outside loses
    EXPECT_EQ(Read(0x04), 0x001000FFu);
    EXPECT_TRUE(gpio.PinLevel(32 + 0));
    EXPECT_FALSE(gpio.PinLevel(32 + 8));
    EXPECT_TRUE(gpio.PinLevel(32 + 20));
}

TEST_F(PxaGpioModelTest, SetAndClearChangeOnlyTheBitsWrittenAsOneAndReadAsZero) {
    Write(0x0C, 0xFFFFFFFF);  // bank 0 all outputs
    Write(0x18, 0xF0F0F0F0);
    Write(0x24, 0x30303030);
    EXPECT_EQ(Read(0x00), 0xC0C0C0C0u);
    EXPECT_EQ(Read(0x18), 0u);
    EXPECT_EQ(Read(0x24), 0u);
    Write(0x18, 0);  // writing zeros changes nothing
    Write(0x24, 0);
    EXPECT_EQ(Read(0x00), 0xC0C0C0C0u);
}

TEST_F(PxaGpioModelTest, LatchedValueAppearsWhenALineBecomesAnOutput) {
    Write(0x20, expected::kGpio80);  // GPSR2 while GPIO80 is an input
    EXPECT_EQ(Read(0x08), 0u);
    Write(0x14, expected::kGpio80);
    EXPECT_EQ(Read(0x08), expected::kGpio80);
}

TEST_F(PxaGpioModelTest, LevelRegistersIgnoreWrites) {
    Write(0x04, 0xFFFFFFFF);
    EXPECT_EQ(Read(0x04), 0u);
}

TEST_F(PxaGpioModelTest, EveryRegisterOfEveryBankIsDecoded) {
    // Read/write registers: each holds its own value, 0x000..0x070 and bank 3.
    std::vector<std::uint32_t> storage;
    for (std::uint32_t off = 0x0C; off <= 0x14; off += 4) storage.push_back(off);      // GPDR0..2
    for (std::uint32_t off = 0x30; off <= 0x44; off += 4) storage.push_back(off);      // GRER, GFER
    for (std::uint32_t off = 0x54; off <= 0x70; off += 4) storage.push_back(off);      // GAFR0_L..GAFR3_U
    for (std::uint32_t off : {0x10Cu, 0x130u, 0x13Cu}) storage.push_back(off);         // bank 3
    for (std::uint32_t off : storage) Write(off, 0xC0DE0000u | off);
    for (std::uint32_t off : storage) EXPECT_EQ(Read(off), 0xC0DE0000u | off) << std::hex << off;
    for (std::uint32_t off : {0x100u, 0x118u, 0x124u, 0x148u}) Read(off);
    EXPECT_TRUE(faults.empty());
}

TEST_F(PxaGpioModelTest, AnythingButAnAligned32BitRegisterAccessIsABusFault) {
    for (std::uint32_t off : {0x74u, 0xFCu, 0x104u, 0x154u, 0x200u, 0xFFFCu, 0x02u, 0x11u}) {
        faults.clear();
        EXPECT_EQ(Read(off), 0u);
        Write(off, 1);
        EXPECT_EQ(faults.size(), 2u) << std::hex << off;
    }
    faults.clear();
    gpio.Read(0x10, 2);
    gpio.Write(0x10, 0xFF, 1);
    EXPECT_EQ(faults.size(), 2u);
    EXPECT_EQ(Read(0x10), 0u);  // the narrow write did not land
    EXPECT_EQ(gpio.AccessLog().size(), 1u);  // faulting accesses are not logged
}

TEST_F(PxaGpioModelTest, EdgeDetectLatchesEnabledEdgesOfInputsUntilCleared) {
    Write(0x34, 1u << 1);   // GRER1: rising on GPIO33
    Write(0x44, 1u << 16);  // GFER2: falling on GPIO80
    gpio.DriveLine(33, true);
    gpio.DriveLine(80, true);
    EXPECT_EQ(Read(0x4C), 1u << 1);
    EXPECT_EQ(Read(0x50), 0u);
    gpio.DriveLine(80, false);
    EXPECT_EQ(Read(0x50), 1u << 16);
    Write(0x4C, 1u << 1);  // write 1 to clear
    EXPECT_EQ(Read(0x4C), 0u);
    EXPECT_EQ(Read(0x50), 1u << 16);
}

// A board fault changes the lines and what the pins read, never the
// registers the program wrote; the level register reads the pin, so an
// output on a faulty line reads back the line, as on the chip.
TEST_F(PxaGpioModelTest, BoardFaultsActAtThePinsNotInTheRegisters) {
    using Kind = host::BoardFault::Kind;
    gpio.AddBoardFault({Kind::StuckLow, 33});
    gpio.AddBoardFault({Kind::Shorted, 34, 35});
    Write(0x10, (1u << 1) | (1u << 2));  // GPDR1: GPIO33 and GPIO34 outputs
    Write(0x34, 1u << 3);                // GRER1: rising edges on GPIO35
    Write(0x1C, (1u << 1) | (1u << 2));  // GPSR1: both high
    EXPECT_EQ(Read(0x10), (1u << 1) | (1u << 2));
    EXPECT_TRUE(gpio.OutputLatch(33));
    EXPECT_EQ(Read(0x04), (1u << 2) | (1u << 3));  // 33 reads the ground short, 35 reads 34
    EXPECT_EQ(Read(0x4C), 1u << 3);                // and saw it rise
    gpio.DriveLine(33, true);  // the rail outdrives anything: no fight, no level change
    EXPECT_EQ(gpio.Pin(33), (PxaGpioModel::PinState{true, false, true, false}));
    Write(0x10, 0xFu << 1);  // 35 an output too, latched low: low wins the short
    EXPECT_FALSE(gpio.PinLevel(34));
    EXPECT_FALSE(gpio.PinLevel(35));
    EXPECT_EQ(Read(0x04) & (3u << 2), 0u);
    gpio.PowerUp();  // a fresh board is wired as designed
    gpio.DriveLine(33, true);
    EXPECT_TRUE(gpio.PinLevel(33));
}

TEST_F(PxaGpioModelTest, LogsEveryAccessInOrderWithItsValue) {
    Write(0x10, 2);
    Read(0x10);
    Read(0x1C);
    const std::vector<PxaGpioModel::Access> expectedLog = {
        expected::Write(0x10, 2), expected::Read(0x10, 2), expected::Read(0x1C, 0)};
    EXPECT_EQ(gpio.AccessLog(), expectedLog);
    EXPECT_EQ(host::FormatAccess(gpio.AccessLog()[0]), "W 0x00000010 0x00000002");
}

TEST_F(PxaGpioModelTest, PowerUpClearsRegistersPinsAndLog) {
    Write(0x10, 0xFFFFFFFF);
    Write(0x1C, 0xFFFFFFFF);
    Write(0x5C, 0xFFFFFFFF);
    gpio.DriveLine(40, true);
    gpio.PowerUp();
    EXPECT_TRUE(gpio.AccessLog().empty());
    for (std::uint32_t off : {0x04u, 0x10u, 0x5Cu}) EXPECT_EQ(gpio.Peek(off), 0u);
    EXPECT_FALSE(gpio.PinLevel(40));
    EXPECT_FALSE(gpio.OutputLatch(33));
}

TEST(PxaGpioModelDeathTest, UnhandledFaultStopsTheProgramLoudly) {
    PxaGpioModel gpio;
    EXPECT_DEATH(gpio.Read(0x74, 4), "no GPIO register");
}

}  // namespace
