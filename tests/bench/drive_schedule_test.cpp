// Reading the schedule of outside drives from the command line.

#include <gtest/gtest.h>

#include <string>

#include "drive_schedule.h"

namespace {

using gpio_bench::ScheduledDrive;
using Drive = host::SimulatedBoard::OutsideDrive;

TEST(DriveScheduleTest, ReadsEveryFormOfLineLevelAndTime) {
    struct Case {
        const char* text;
        unsigned gpio;
        Drive drive;
        std::uint64_t atUs;
    };
    const Case cases[] = {
        {"GPIO33=high@62.5", 33, Drive::High, 62500000},
        {"gpio80=low@62.5s", 80, Drive::Low, 62500000},
        {"GPIO80=1@500ms", 80, Drive::High, 500000},
        {"GPIO33=0@0.000001", 33, Drive::Low, 1},
        {"GPIO33=none@65.999999", 33, Drive::Released, 65999999},
        {"GPIO80=HIGH", 80, Drive::High, 0},
        {"GPIO80=high@.5", 80, Drive::High, 500000},
        {"GPIO80=high@60.", 80, Drive::High, 60000000},
        {"GPIO33=high@0.5ms", 33, Drive::High, 500},
    };
    for (const auto& c : cases) {
        ScheduledDrive drive{};
        std::string error;
        ASSERT_TRUE(gpio_bench::ParseDrive(c.text, drive, error)) << c.text << ": " << error;
        EXPECT_EQ(drive.gpio, c.gpio) << c.text;
        EXPECT_EQ(drive.drive, c.drive) << c.text;
        EXPECT_EQ(drive.atUs, c.atUs) << c.text;
    }
}

TEST(DriveScheduleTest, RejectsWhatItCannotMeanWithAMessageNamingIt) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"GPIO34=high", "unknown line 'GPIO34': the exercise uses GPIO33 and GPIO80"},
        {"=high", "unknown line ''"},
        {"GPIO33", "bad drive 'GPIO33': expected LINE=LEVEL[@TIME]"},
        {"GPIO33=hi@1", "bad level 'hi' for GPIO33: expected high, low or none"},
        {"GPIO80=@1", "bad level '' for GPIO80"},
        {"GPIO33=high@66", "time '66' is outside the run, which lasts from 0 to 66 s"},
        {"GPIO33=high@66000ms", "time '66000ms' is outside the run"},
        {"GPIO33=high@99999999999999999999", "is outside the run"},
        {"GPIO33=high@-1", "bad time '-1'"},
        {"GPIO33=high@1e3", "bad time '1e3'"},
        {"GPIO33=high@", "bad time ''"},
        {"GPIO33=high@.", "bad time '.'"},
        {"GPIO33=high@1.0000001", "bad time '1.0000001'"},
        {"GPIO33=high@0.0001ms", "bad time '0.0001ms'"},
        {"GPIO33=high@62.5 s", "bad time '62.5 s'"},
        {"GPIO33=high@1@2", "bad time '1@2'"},
    };
    for (const auto& c : cases) {
        ScheduledDrive drive{};
        std::string error;
        EXPECT_FALSE(gpio_bench::ParseDrive(c.text, drive, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << " gave: " << error;
    }
}

TEST(DriveScheduleTest, OneLineCannotTakeTwoLevelsAtOneTime) {
    std::string error;
    EXPECT_TRUE(gpio_bench::CheckSchedule({{33, Drive::High, 1000}, {80, Drive::Low, 1000},
                                         {33, Drive::Low, 2000}},
                                        error));
    EXPECT_FALSE(gpio_bench::CheckSchedule({{33, Drive::High, 1000}, {80, Drive::Low, 1000},
                                          {33, Drive::Low, 1000}},
                                         error));
    EXPECT_EQ(error, "two drives for GPIO33 at 0.001 s: give one level per line and time");
}

TEST(DriveScheduleTest, TimesPrintToTheMicrosecond) {
    EXPECT_EQ(gpio_bench::FormatSeconds(0), "0.000000");
    EXPECT_EQ(gpio_bench::FormatSeconds(65990001), "65.990001");
    EXPECT_EQ(gpio_bench::FormatShortSeconds(62500000), "62.5");
    EXPECT_EQ(gpio_bench::FormatShortSeconds(60000000), "60");
    EXPECT_EQ(gpio_bench::FormatShortSeconds(0), "0");
    EXPECT_EQ(gpio_bench::DescribeDrive({80, Drive::Released, 1500}), "GPIO80 none from 0.0015 s");
}

}  // namespace
