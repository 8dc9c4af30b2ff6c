// The driver's operations one by one: what each prints, every bus access it
// makes in order, and the bits it must leave alone.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "TolvarGPIO.h"
#include "board_fixture.h"
#include "expected_trace.h"

namespace {

using expected::GAFR1_L;
using expected::GAFR2_U;
using expected::GPCR1;
using expected::GPCR2;
using expected::GPDR1;
using expected::GPDR2;
using expected::GPLR1;
using expected::GPLR2;
using expected::GPSR1;
using expected::GPSR2;
using expected::kGpio33;
using expected::kGpio80;
using expected::Read;
using expected::RegisterReport;
using expected::ReportedUpdate;
using expected::Write;

std::vector<expected::Access> Concat(std::initializer_list<std::vector<expected::Access>> parts) {
    std::vector<expected::Access> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class TolvarGpioTest : public BoardTest {
protected:
    // A driver built on the board as it stands, with its construction forgotten.
    std::unique_ptr<TolvarGPIO> Construct(std::uint8_t mask) {
        std::unique_ptr<TolvarGPIO> gpio(new (std::nothrow) TolvarGPIO(mask));
        ClearRecords();
        return gpio;
    }
};

TEST_F(TolvarGpioTest, ConstructionSwitchesToGpioAsInputsThenAppliesDirections) {
    TolvarGPIO gpio(3);
    const std::string base = Trace().substr(Trace().find("mapped to: ") + 11, 10);
    EXPECT_EQ(Trace(), "+TolvarGPIO(3)\r\n0x40e00000 mapped to: " + base + "\r\n" +
                           expected::SetDirection(0, 0, 0, 0) + RegisterReport("GAFR1_L", 0, 0) +
                           RegisterReport("GAFR2_U", 0, 0) +
                           expected::SetDirection(0, kGpio33, 0, kGpio80) + "-TolvarGPIO()\r\n");
    EXPECT_EQ(Describe(Log()), Describe(Concat({ReportedUpdate(GPDR1, 0, 0), ReportedUpdate(GPDR2, 0, 0),
                                                ReportedUpdate(GAFR1_L, 0, 0), ReportedUpdate(GAFR2_U, 0, 0),
                                                ReportedUpdate(GPDR1, 0, kGpio33),
                                                ReportedUpdate(GPDR2, 0, kGpio80)})));
    EXPECT_TRUE(gpio.IsMapped());
    EXPECT_EQ(gpio.Directions(), 3);
}

TEST_F(TolvarGpioTest, ConstructionNeverDrivesALineInItsOldFunction) {
    // Both lines outputs in an alternate function, as a boot loader may leave them.
    Gpio().Poke(GPDR1, kGpio33);
    Gpio().Poke(GPDR2, kGpio80);
    Gpio().Poke(GAFR1_L, 0x3u << 2);
    Gpio().Poke(GAFR2_U, 0x3u);
    TolvarGPIO gpio(3);
    bool inputs = false;
    for (const auto& access : Log()) {
        if (access.kind != host::PxaGpioModel::AccessKind::Write) continue;
        if (access.offset == GPDR1) inputs = (access.value & kGpio33) == 0;
        if (access.offset == GAFR1_L || access.offset == GAFR2_U) {
            EXPECT_TRUE(inputs);
        }
    }
    EXPECT_EQ(Gpio().Peek(GAFR1_L), 0u);
    EXPECT_EQ(Gpio().Peek(GAFR2_U), 0u);
    EXPECT_TRUE(Gpio().IsOutput(33));
    EXPECT_TRUE(Gpio().IsOutput(80));
}

TEST_F(TolvarGpioTest, ConstructionWithHighBitsShowsThemButKeepsTwoLines) {
    TolvarGPIO gpio(255);
    EXPECT_EQ(Trace().rfind("+TolvarGPIO(255)\r\n", 0), 0u);
    EXPECT_EQ(gpio.Directions(), 3);
    EXPECT_TRUE(Gpio().IsOutput(33));
    EXPECT_TRUE(Gpio().IsOutput(80));
    EXPECT_EQ(Gpio().Peek(GPDR1), kGpio33);
    EXPECT_EQ(Gpio().Peek(GPDR2), kGpio80);
}

struct Preset {
    const char* name;
    std::uint32_t gpdr1, gpdr2, gafr1l, gafr2u;
};

void PrintTo(const Preset& preset, std::ostream* out) { *out << preset.name; }

class TolvarGpioPresetTest : public TolvarGpioTest, public ::testing::WithParamInterface<Preset> {};

// Every read-modify-write changes only the two lines' bits.
TEST_P(TolvarGpioPresetTest, ConstructionKeepsEveryOtherLinesBits) {
    const Preset p = GetParam();
    Gpio().Poke(GPDR1, p.gpdr1);
    Gpio().Poke(GPDR2, p.gpdr2);
    Gpio().Poke(GAFR1_L, p.gafr1l);
    Gpio().Poke(GAFR2_U, p.gafr2u);
    TolvarGPIO gpio(3);
    const std::uint32_t gpdr1In = p.gpdr1 & ~kGpio33, gpdr2In = p.gpdr2 & ~kGpio80;
    const std::uint32_t gafr1l = p.gafr1l & ~0xCu, gafr2u = p.gafr2u & ~0x3u;
    EXPECT_EQ(Describe(Log()),
              Describe(Concat({ReportedUpdate(GPDR1, p.gpdr1, gpdr1In), ReportedUpdate(GPDR2, p.gpdr2, gpdr2In),
                               ReportedUpdate(GAFR1_L, p.gafr1l, gafr1l),
                               ReportedUpdate(GAFR2_U, p.gafr2u, gafr2u),
                               ReportedUpdate(GPDR1, gpdr1In, gpdr1In | kGpio33),
                               ReportedUpdate(GPDR2, gpdr2In, gpdr2In | kGpio80)})));
    EXPECT_NE(Trace().find(expected::SetDirection(p.gpdr1, gpdr1In, p.gpdr2, gpdr2In) +
                           RegisterReport("GAFR1_L", p.gafr1l, gafr1l) +
                           RegisterReport("GAFR2_U", p.gafr2u, gafr2u) +
                           expected::SetDirection(gpdr1In, gpdr1In | kGpio33, gpdr2In, gpdr2In | kGpio80)),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Registers, TolvarGpioPresetTest,
                         ::testing::Values(Preset{"AllOnes", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
                                           Preset{"Mixed", 0xA5A5A5A5, 0x5A5A5A5A, 0x0F0F0F0F, 0xF0F0F0F0},
                                           Preset{"OthersSetOwnClear", ~kGpio33, ~kGpio80, ~0xCu, ~0x3u},
                                           // Already final: both reports still print, equal values.
                                           Preset{"AlreadyFinal", kGpio33, kGpio80, 0, 0}),
                         [](const ::testing::TestParamInfo<Preset>& info) { return info.param.name; });

TEST_F(TolvarGpioTest, SetDirectionUsesTheLowTwoBitsOnly) {
    auto gpio = Construct(0);
    const struct {
        std::uint8_t mask;
        bool gpio33Out, gpio80Out;
    } cases[] = {{0x1, false, true}, {0x2, true, false}, {0x3, true, true}, {0x0, false, false},
                 {0xFE, true, false}, {0xFD, false, true}, {0xFC, false, false}};
    for (const auto& c : cases) {
        const std::uint32_t gpdr1 = Gpio().Peek(GPDR1), gpdr2 = Gpio().Peek(GPDR2);
        const std::uint32_t gpdr1After = c.gpio33Out ? kGpio33 : 0, gpdr2After = c.gpio80Out ? kGpio80 : 0;
        ClearRecords();
        gpio->SetDirection(c.mask);
        EXPECT_EQ(Trace(), expected::SetDirection(gpdr1, gpdr1After, gpdr2, gpdr2After)) << int{c.mask};
        EXPECT_EQ(Describe(Log()), Describe(Concat({ReportedUpdate(GPDR1, gpdr1, gpdr1After),
                                                    ReportedUpdate(GPDR2, gpdr2, gpdr2After)})));
        EXPECT_EQ(gpio->Directions(), c.mask & 3);
    }
}

TEST_F(TolvarGpioTest, WriteLinesSetsOrClearsEachOutputWithOneReadAndOneWrite) {
    auto gpio = Construct(3);
    for (std::uint8_t value = 0; value < 8; ++value) {
        ClearRecords();
        gpio->WriteLines(value);
        const std::uint32_t bank1 = (value & 2) != 0 ? GPSR1 : GPCR1;
        const std::uint32_t bank2 = (value & 1) != 0 ? GPSR2 : GPCR2;
        EXPECT_EQ(Describe(Log()),
                  Describe({Read(bank1, 0), Write(bank1, kGpio33), Read(bank2, 0), Write(bank2, kGpio80)}))
            << "value " << int{value};
        EXPECT_EQ(Gpio().PinLevel(33), (value & 2) != 0) << "value " << int{value};
        EXPECT_EQ(Gpio().PinLevel(80), (value & 1) != 0) << "value " << int{value};
        EXPECT_EQ(Trace(), "");
    }
}

TEST_F(TolvarGpioTest, WriteLinesLeavesOtherLinesOfTheBankAsTheyAre) {
    Gpio().Poke(GPDR1, 0xFFFFFFFF);
    Gpio().Poke(GPDR2, 0xFFFFFFFF);
    Gpio().Poke(GPSR1, 0xFFFFFFFF);  // every other output latched high
    auto gpio = Construct(3);
    gpio->WriteLines(0);
    EXPECT_FALSE(Gpio().PinLevel(33));
    EXPECT_TRUE(Gpio().PinLevel(32));
    EXPECT_TRUE(Gpio().PinLevel(34));
    gpio->WriteLines(3);
    EXPECT_FALSE(Gpio().PinLevel(79));
    EXPECT_FALSE(Gpio().PinLevel(81));
}

TEST_F(TolvarGpioTest, WriteLinesTouchesNothingForInputLines) {
    auto gpio = Construct(0);
    gpio->WriteLines(3);
    EXPECT_TRUE(Log().empty());
    gpio->SetDirection(2);  // GPIO33 only
    ClearRecords();
    gpio->WriteLines(3);
    EXPECT_EQ(Describe(Log()), Describe({Read(GPSR1, 0), Write(GPSR1, kGpio33)}));
    gpio->SetDirection(1);  // GPIO80 only
    ClearRecords();
    gpio->WriteLines(0);
    EXPECT_EQ(Describe(Log()), Describe({Read(GPCR2, 0), Write(GPCR2, kGpio80)}));
}

TEST_F(TolvarGpioTest, ReadLinesReadsOnlyInputsAndOnlyTheirBits) {
    auto gpio = Construct(3);
    Gpio().DriveLine(33, true);
    Gpio().DriveLine(80, true);
    EXPECT_EQ(gpio->ReadLines(), 0);  // both outputs: nothing to read
    EXPECT_TRUE(Log().empty());

    gpio->SetDirection(0);
    // Neighbours high must not leak into the result.
    for (unsigned line : {32u, 34u, 63u, 64u, 79u, 81u}) Gpio().DriveLine(line, true);
    const struct {
        bool gpio33High, gpio80High;
        std::uint8_t levels;
    } cases[] = {{false, false, 0}, {false, true, 1}, {true, false, 2}, {true, true, 3}};
    for (const auto& c : cases) {
        Gpio().DriveLine(33, c.gpio33High);
        Gpio().DriveLine(80, c.gpio80High);
        ClearRecords();
        EXPECT_EQ(gpio->ReadLines(), c.levels);
        EXPECT_EQ(Describe(Log()), Describe({Read(GPLR1, Gpio().Peek(GPLR1)), Read(GPLR2, Gpio().Peek(GPLR2))}));
        EXPECT_EQ(Trace(), "");
    }

    gpio->SetDirection(1);  // GPIO80 an output: only GPLR1 is read
    ClearRecords();
    EXPECT_EQ(gpio->ReadLines(), 2);
    EXPECT_EQ(Describe(Log()), Describe({Read(GPLR1, Gpio().Peek(GPLR1))}));
}

TEST_F(TolvarGpioTest, DestructionReleasesTheMappingAndLeavesTheLinesAlone) {
    auto gpio = Construct(3);
    gpio->WriteLines(2);
    ClearRecords();
    gpio.reset();
    EXPECT_EQ(Trace(), "+~TolvarGPIO()\r\n-~TolvarGPIO()\r\n");
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Board().ReservedRanges(), 0u);
    EXPECT_EQ(Board().LiveObjects(), 0u);
    EXPECT_TRUE(Gpio().IsOutput(33));
    EXPECT_TRUE(Gpio().PinLevel(33));
    EXPECT_FALSE(Gpio().PinLevel(80));
}

// With both lines outputs and with both inputs, so ReadLines has lines to read.
TEST_F(TolvarGpioTest, UnmappedDriverTouchesNoRegisterAndReleasesNothing) {
    Board().FailVirtualAlloc();
    for (const std::uint8_t mask : {3, 0}) {
        SCOPED_TRACE(int{mask});
        ClearRecords();
        {
            TolvarGPIO gpio(mask);
            EXPECT_FALSE(gpio.IsMapped());
            EXPECT_EQ(Trace(), "+TolvarGPIO(" + std::to_string(mask) +
                                   ")\r\nError! at VirtualAlloc()\r\n-TolvarGPIO()\r\n");
            ClearRecords();
            gpio.SetDirection(mask ^ 3);
            gpio.WriteLines(3);
            EXPECT_EQ(gpio.ReadLines(), 0);
            EXPECT_EQ(Trace(), "");
        }
        EXPECT_EQ(Trace(), "+~TolvarGPIO()\r\n-~TolvarGPIO()\r\n");
        EXPECT_TRUE(Log().empty());
    }
}

TEST_F(TolvarGpioTest, FailedPhysicalMappingGivesBackTheReservation) {
    Board().FailVirtualCopy(0);
    EXPECT_EQ(MapRegisters(kGpioPhysicalBase), nullptr);
    EXPECT_EQ(Trace(), "Error! at VirtualCopy()\r\n");
    EXPECT_EQ(Board().ReservedRanges(), 0u);
}

TEST_F(TolvarGpioTest, MapRegistersBindsOnlyTheGpioUnit) {
    // Any other physical address is not the GPIO unit and must not map.
    EXPECT_EQ(MapRegisters(0x40E10000), nullptr);
    EXPECT_EQ(Trace(), "Error! at VirtualCopy()\r\n");
    ClearRecords();
    GpioRegisterBlock* regs = MapRegisters(kGpioPhysicalBase);
    ASSERT_NE(regs, nullptr);
    EXPECT_EQ(Trace(), expected::Mapped(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(regs))));
    UnmapRegisters(regs);
    EXPECT_EQ(Board().ReservedRanges(), 0u);
}

}  // namespace
