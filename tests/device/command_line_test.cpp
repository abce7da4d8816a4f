// The two command-line parsers: which arguments count as the device flag,
// and which device ordinal the arguments ask for.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "argument_vector.h"
#include "gpu/helper_cuda.h"

namespace {

struct FlagCase {
    std::vector<const char*> arguments;
    const char* name;
    bool expected;
};

TEST(HasCommandLineFlag, MatchesTheWholeKeyIgnoringDashesCaseAndValue)
{
    const FlagCase cases[] = {
        {{"-device"}, "device", true},
        {{"--DEVICE=1"}, "device", true},
        {{"device=1"}, "device", true},
        {{"---Device"}, "device", true},
        {{"-device="}, "device", true},
        {{"-devices=1"}, "device", false},
        {{"-dev"}, "device", false},
        {{"-device1"}, "device", false},
        {{"-quiet"}, "device", false},
        {{"-quiet"}, "quiet", true},
        {{"-device=0", "-QUIET"}, "quiet", true},
        {{"-quiet", "-device=2"}, "device", true},
        {{"-x=device"}, "device", false},  // only the text before '=' is the key
    };
    for (const FlagCase& c : cases) {
        const ArgumentVector args(c.arguments);
        SCOPED_TRACE(std::string(args.argv()[1]) + " for " + c.name);
        EXPECT_EQ(hasCommandLineFlag(args.argc(), args.argv(), c.name), c.expected);
    }
}

TEST(HasCommandLineFlag, KeepsTheDashesWhenAtMostOneCharacterWouldRemain)
{
    const FlagCase cases[] = {
        {{"-"}, "-", true},
        {{"-"}, "", false},
        {{"--"}, "--", true},
        {{"--"}, "", false},
        {{"-x"}, "-x", true},
        {{"-x"}, "x", false},
        {{"--x"}, "--x", true},
        {{"--xy"}, "xy", true},
    };
    for (const FlagCase& c : cases) {
        const ArgumentVector args(c.arguments);
        SCOPED_TRACE(std::string(args.argv()[1]) + " for '" + c.name + "'");
        EXPECT_EQ(hasCommandLineFlag(args.argc(), args.argv(), c.name), c.expected);
    }
}

TEST(HasCommandLineFlag, NeverLooksAtTheProgramName)
{
    const char* const onlyName[] = {"-device", nullptr};
    EXPECT_FALSE(hasCommandLineFlag(1, onlyName, "device"));
    EXPECT_FALSE(hasCommandLineFlag(0, onlyName, "device"));
    EXPECT_FALSE(hasCommandLineFlag(0, nullptr, "device"));
}

struct DeviceCase {
    std::vector<const char*> arguments;
    int expected;
};

TEST(GetDeviceArgument, ReadsTheValueOfTheLastDeviceOption)
{
    const DeviceCase cases[] = {
        {{"-device=3"}, 3},
        {{"--DEVICE=1"}, 1},
        {{"device=1"}, 1},
        {{"-device==3"}, 3},  // one '=' too many is forgiven
        {{"-device=1", "-device=0"}, 0},
        {{"-device=0", "-quiet", "-device=2"}, 2},
        {{"-device=5", "-device"}, 5},   // a later bare flag carries no value
        {{"-device=5", "-device="}, 0},  // a later empty value does
        {{"-device", "1"}, 0},           // only the text in the same argument counts
        {{"-devices=1"}, 0},
        {{"-quiet"}, 0},
        {{"-"}, 0},
    };
    for (const DeviceCase& c : cases) {
        const ArgumentVector args(c.arguments);
        SCOPED_TRACE(std::string(args.argv()[1]) + (args.argc() > 2 ? " ..." : ""));
        EXPECT_EQ(getDeviceArgument(args.argc(), args.argv()), c.expected);
    }
    const ArgumentVector none(std::vector<const char*>{});
    EXPECT_EQ(getDeviceArgument(none.argc(), none.argv()), 0);
}

TEST(GetDeviceArgument, ConvertsTheValueAsADecimalNumber)
{
    const DeviceCase cases[] = {
        {{"-device="}, 0},
        {{"-device=="}, 0},
        {{"-device=abc"}, 0},
        {{"-device=-3"}, -3},  // returned as it is; the explicit choice makes it 0
        {{"-device=+4"}, 4},
        {{"-device= 2"}, 2},
        {{"-device=7abc"}, 7},
        {{"-device=0x10"}, 0},
        {{"-device=2147483647"}, INT_MAX},
        {{"-device=-2147483648"}, INT_MIN},
    };
    for (const DeviceCase& c : cases) {
        const ArgumentVector args(c.arguments);
        SCOPED_TRACE(args.argv()[1]);
        EXPECT_EQ(getDeviceArgument(args.argc(), args.argv()), c.expected);
    }
}

TEST(GetDeviceArgument, ClampsNumbersOutsideTheIntRange)
{
    const DeviceCase cases[] = {
        {{"-device=2147483648"}, INT_MAX},
        {{"-device=99999999999999999999999999"}, INT_MAX},
        {{"-device=-2147483649"}, INT_MIN},
        {{"-device=-99999999999999999999999999"}, INT_MIN},
    };
    for (const DeviceCase& c : cases) {
        const ArgumentVector args(c.arguments);
        SCOPED_TRACE(args.argv()[1]);
        EXPECT_EQ(getDeviceArgument(args.argc(), args.argv()), c.expected);
    }
}

TEST(CommandLine, ADeviceValueAlwaysComesWithTheDeviceFlag)
{
    const ArgumentVector args({"-quiet", "--Device==12"});
    EXPECT_TRUE(hasCommandLineFlag(args.argc(), args.argv(), "device"));
    EXPECT_EQ(getDeviceArgument(args.argc(), args.argv()), 12);
}

}  // namespace
