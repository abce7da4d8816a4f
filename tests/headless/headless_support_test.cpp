// The headless runner's parts that need no model: its command line, the
// hashes it prints and the image it writes.
#include <gtest/gtest.h>

#include <png.h>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/fnv1a.h"
#include "program_output/png_image.h"
#include "model/device_settings.h"
#include "tools/headless_options.h"

namespace {

struct Parsed {
    CommandLine result;
    HeadlessOptions options;
    std::string errors;
};

Parsed parse(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "shallow-water-headless");
    Parsed parsed{};
    testing::internal::CaptureStderr();
    parsed.result = parseHeadlessOptions(static_cast<int>(arguments.size()), arguments.data(), &parsed.options);
    parsed.errors = testing::internal::GetCapturedStderr();
    return parsed;
}

TEST(HeadlessOptions, DefaultsAndEveryOptionInBothSpellings)
{
    Parsed parsed = parse({});
    EXPECT_EQ(parsed.result, CommandLine::Run);
    EXPECT_EQ(parsed.options.frames, 600);
    EXPECT_FALSE(parsed.options.checksum);
    EXPECT_EQ(parsed.options.pngPath, "");

    EXPECT_FALSE(parsed.options.volume);

    parsed = parse({"--frames", "25", "--checksum", "--png", "out.png", "--volume"});
    EXPECT_EQ(parsed.result, CommandLine::Run);
    EXPECT_EQ(parsed.options.frames, 25);
    EXPECT_TRUE(parsed.options.checksum);
    EXPECT_TRUE(parsed.options.volume);
    EXPECT_EQ(parsed.options.pngPath, "out.png");
    EXPECT_EQ(parsed.errors, "");

    parsed = parse({"--png=a=b.png", "--frames=2147483647"});
    EXPECT_EQ(parsed.result, CommandLine::Run);
    EXPECT_EQ(parsed.options.frames, 2147483647);
    EXPECT_EQ(parsed.options.pngPath, "a=b.png");

    EXPECT_EQ(parse({"--frames", "3", "--help"}).result, CommandLine::ShowHelp);
    EXPECT_EQ(parse({"--checksum", "--version"}).result, CommandLine::ShowVersion);
    EXPECT_EQ(parse({"--version=1"}).result, CommandLine::Invalid);
}

TEST(HeadlessOptions, BadOptionsAreNamedAndRefused)
{
    const std::vector<std::vector<const char*>> refused = {
        {"--frames"},           {"--frames", "0"},        {"--frames", "-5"},   {"--frames", "12x"},
        {"--frames", ""},       {"--frames", "2147483648"}, {"--frames", " 7"}, {"--frames=+7"},
        {"--png"},              {"--png="},               {"--bogus"},          {"frames"},
        {"--checksum=yes"},     {"-frames", "5"},
    };
    for (const auto& arguments : refused) {
        const Parsed parsed = parse(arguments);
        EXPECT_EQ(parsed.result, CommandLine::Invalid) << arguments[0];
        EXPECT_NE(parsed.errors.find("shallow-water-headless: "), std::string::npos) << parsed.errors;
        EXPECT_NE(parsed.errors.find("--help"), std::string::npos) << parsed.errors;
    }
    EXPECT_NE(parse({"--frames", "12x"}).errors.find("'12x'"), std::string::npos);
    EXPECT_NE(parse({"--bogus"}).errors.find("unknown option '--bogus'"), std::string::npos);
}

// The device constants' settings: absent unless given, their range's ends
// included, and a depth range only as two depths that a setting takes.
TEST(HeadlessOptions, DeviceConstantSettings)
{
    Parsed parsed = parse({});
    EXPECT_FALSE(parsed.options.relaxation.has_value()) << "nothing is written without the option";
    EXPECT_FALSE(parsed.options.depthRange.has_value());

    parsed = parse({"--relaxation", "0.2", "--depth-range=0.0001,0.1"});
    ASSERT_EQ(parsed.result, CommandLine::Run) << parsed.errors;
    EXPECT_EQ(*parsed.options.relaxation, kSmallestRelaxation);
    EXPECT_EQ(parsed.options.depthRange->black, 0.0001f);
    EXPECT_EQ(parsed.options.depthRange->white, kDeepestDrawnDepth);
    parsed = parse({"--relaxation=1.2", "--depth-range", "0.04,0.06"});
    ASSERT_EQ(parsed.result, CommandLine::Run) << parsed.errors;
    EXPECT_EQ(*parsed.options.relaxation, kLargestRelaxation);
    EXPECT_EQ(parsed.options.depthRange->black, 0.04f);
    EXPECT_EQ(parsed.options.depthRange->white, 0.06f);
    parsed = parse({"--relaxation", "0.6666667"});
    EXPECT_EQ(*parsed.options.relaxation, kDefaultRelaxation);

    const std::vector<std::vector<const char*>> refused = {
        {"--relaxation", "0.1999"}, {"--relaxation", "1.2001"}, {"--relaxation", "nan"}, {"--relaxation", "-inf"},
        {"--relaxation", ""},       {"--relaxation", "1,2"},    {"--relaxation"},        {"--depth-range", ","},
        {"--depth-range", "0.04"},  {"--depth-range", "0.04,"}, {"--depth-range", ",0.06"},
        {"--depth-range", "0.06,0.04"}, {"--depth-range", "-0.01,0.06"}, {"--depth-range", "0.04,0.06,0.07"},
        {"--depth-range", "0.04;0.06"}, {"--depth-range", "0.04,inf"}, {"--depth-range", "nan,0.06"},
        {"--bench", "--relaxation", "1"}, {"--bench", "--depth-range", "0.04,0.06"},
    };
    for (const auto& arguments : refused) {
        const Parsed bad = parse(arguments);
        EXPECT_EQ(bad.result, CommandLine::Invalid) << arguments[0] << " " << (arguments.size() > 1 ? arguments[1] : "")
                                                    << " " << (arguments.size() > 2 ? arguments[2] : "");
        EXPECT_NE(bad.errors.find("--help"), std::string::npos) << bad.errors;
    }
    EXPECT_NE(parse({"--depth-range", "0.06,0.04"}).errors.find("0 < BLACK < WHITE <= 0.1, not '0.06,0.04'"),
              std::string::npos);
}

TEST(Fnv1a64, HashesTheWordsLittleEndianByteByByte)
{
    EXPECT_EQ(fnv1a64(std::vector<uint32_t>{}), 0xCBF29CE484222325ull);
    // The bytes 'a', 'b', 'c', 'd' in storage order.
    EXPECT_EQ(fnv1a64(std::vector<uint32_t>{0x64636261u}), 0xFC179F83EE0724DDull);
    // Still water: 0.05 in every cell of the application's grid, and its
    // pixels, grey 127.
    EXPECT_EQ(fnv1a64(std::vector<float>(2688u * 1536u, 0.05f)), 0x9CFA330088402325ull);
    EXPECT_EQ(fnv1a64(std::vector<uint32_t>(2688u * 1536u, 0xFF7F7F7Fu)), 0xC9C0D6C3B7AE2325ull);
}

std::string temporaryPath(const char* name)
{
    return testing::TempDir() + name;
}

TEST(GreyPng, WritesTheRedByteOfEveryPixelRowZeroOnTop)
{
    const int width = 5;
    const int height = 3;
    std::vector<uint32_t> pixels(width * height);
    for (int i = 0; i < width * height; ++i) {
        const uint32_t grey = static_cast<uint32_t>(i * 17);
        pixels[i] = 0xFF000000u | grey << 16 | grey << 8 | grey;
    }
    const std::string path = temporaryPath("grey_png_test.png");
    ASSERT_TRUE(writeGreyPng(path, pixels, width, height));

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
    EXPECT_EQ(image.width, 5u);
    EXPECT_EQ(image.height, 3u);
    image.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> grey(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr)) << image.message;
    ASSERT_EQ(grey.size(), pixels.size());
    for (size_t i = 0; i < grey.size(); ++i) EXPECT_EQ(grey[i], i * 17) << "pixel " << i;
    std::remove(path.c_str());
}

TEST(GreyPng, FailureIsReportedAndLeavesNoFile)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeGreyPng(temporaryPath("no-such-dir/image.png"), std::vector<uint32_t>(4), 2, 2));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Cannot write the image"), std::string::npos);

    const std::string folder = testing::TempDir();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeGreyPng(folder, std::vector<uint32_t>(4), 2, 2)) << "a folder is no image file";
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Cannot write the image"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(folder));

#if defined(__linux__)
    {
        // A file size limit makes the writes fail part way: the image is
        // refused and its truncated file removed.
        const std::string limited = temporaryPath("limited.png");
        std::vector<uint32_t> noise(256 * 256);
        uint32_t state = 1;
        for (uint32_t& pixel : noise) pixel = (state = state * 1664525u + 1013904223u) >> 8;
        rlimit original{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
        rlimit small = original;
        small.rlim_cur = 1000;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        testing::internal::CaptureStderr();
        const bool written = writeGreyPng(limited, noise, 256, 256);
        setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_FALSE(written);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Cannot write the image"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(limited));
    }
#endif

    const std::string path = temporaryPath("mismatched.png");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeGreyPng(path, std::vector<uint32_t>(5), 2, 2));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("5 pixels do not make 2 x 2"), std::string::npos);
    EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
}

}  // namespace
