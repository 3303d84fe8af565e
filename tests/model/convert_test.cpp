#include "model/convert.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

struct TextCase {
    std::string in, out;
};

TEST(ConvertTextTest, IntegerMode)
{
    const std::vector<TextCase> cases = {
        {" 007 ", "7"}, {"\t0012\r\n", "12"}, {"12abc", "12"}, {"-12", "-12"}, {"1 2", "1"},
        {"+5", "0"},    {"abc", "0"},         {"-", "0"},      {"", "0"},     {"-0", "0"},
        {"--5", "0"},   {"12.9", "12"},       {"000000000000000000000042", "42"},
        {"2147483647", "2147483647"},   {"2147483648", "2147483647"}, {"99999999999999999999999", "2147483647"},
        {"-2147483648", "-2147483648"}, {"-2147483649", "-2147483648"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ConvertText(1, c.in), c.out) << "input [" << c.in << "]";
    EXPECT_EQ(TextToInt32(" -42x"), -42);
    EXPECT_EQ(TextToInt32("99999999999"), INT32_MAX);
    EXPECT_EQ(ConvertText(0, "  keep me\t"), "keep me");
}

TEST(ConvertTextTest, DecimalMode)
{
    const std::vector<TextCase> cases = {
        {"12.50", "12.5"}, {"1.2.3", "1.2"}, {".5", "0.5"}, {"-0.25kg", "-0.25"}, {"abc", "0"},
        {".", "0"},        {"-.", "0"},      {"-0.000", "0"}, {"5.", "5"},        {"1,5", "1"}, {"1e5", "1"},
        {"0.123456785", "0.12345679"}, {"0.123456784", "0.12345678"}, {"-9.999999999", "-10"},
        {"-0.000000004", "0"},         {"0.00000001", "0.00000001"},
        {"123456789012345678901234567890", "123456789012345678901234567890"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ConvertText(2, c.in), c.out) << "input [" << c.in << "]";
    EXPECT_DOUBLE_EQ(TextToDouble("-0.25kg"), -0.25);
    EXPECT_GT(TextToDouble(std::string(400, '9')), 1e300); // clamps, does not throw
}

TEST(TextShapeTest, FitAndSplit)
{
    struct Fit {
        bool left;
        int width;
        char pad;
        std::string in, out;
    };
    const std::vector<Fit> fits = {
        {true, 3, '0', "5", "005"},   {true, 2, '0', "ABC", "AB"},           {false, 2, '0', "ABC", "AB"},
        {false, 6, ' ', "AB12", "AB12  "}, {false, 10, '0', "SH10", "SH10000000"}, {true, -4, '0', "abc", ""},
    };
    for (const auto &c : fits)
        EXPECT_EQ(FitText(c.left, c.width, c.pad, c.in), c.out) << c.in << " width " << c.width;

    struct Split {
        std::string in, delim;
        int count;
        std::vector<std::string> out;
    };
    const std::vector<Split> splits = {
        {"H2S = 1,ppm", "=", 2, {"H2S ", "1,ppm"}}, {"a=b=c", "=", 2, {"a", "b"}},
        {"abc", "=", 2, {"abc", ""}},               {"x, y ,z", ",", 6, {"x", "y ", "z", "", "", ""}},
        {"a,,b", ",", 3, {"a", "", "b"}},           {"a::b::c", "::", 3, {"a", "b", "c"}},
        {"a=b", "", 2, {"a=b", ""}},                {"a=b", "=", 0, {}},
    };
    for (const auto &c : splits)
        EXPECT_EQ(SplitText(c.in, c.delim, c.count), c.out) << "[" << c.in << "] by [" << c.delim << "]";
}

TEST(StrToWordRangeTest, ClampsLow16Bits)
{
    struct Case {
        std::string in;
        uint16_t min, max, out;
    };
    const std::vector<Case> cases = {
        {"0", 1, 128, 1},         {"200", 1, 128, 128},      {"-1", 1, 128, 128},  {"-5", 0, 65535, 65531},
        {"70000", 0, 65535, 4464}, {"65536", 1, 128, 1}, {"99999999999", 0, 65535, 65535},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StrToWordRange(c.in, c.min, c.max), c.out) << c.in;
}

TEST(WorkDirTest, FolderRule)
{
    EXPECT_EQ(WorkDirFrom("/home/op"), "/home/op/");
    EXPECT_EQ(WorkDirFrom("/home/op/"), "/home/op/");
    EXPECT_EQ(WorkDirFrom(""), "/");
    EXPECT_EQ(WorkDirFrom("C:\\Tools", '\\'), "C:\\Tools\\");
    EXPECT_EQ(WorkDirFrom("", '\\'), "C:\\");
    const std::string dir = GetWorkDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
}

TEST(WaitSecondsTest, WaitsAndKeepsCalling)
{
    using Clock = std::chrono::steady_clock;
    int passes = 0;
    auto t0 = Clock::now();
    WaitSeconds(0, [&] { ++passes; });
    WaitSeconds(-1, [&] { ++passes; });
    EXPECT_EQ(passes, 0);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(5));

    t0 = Clock::now();
    WaitSeconds(0.1f, [&] { ++passes; });
    const auto took = Clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_GE(passes, 2);   // the window gets to breathe more than once
    EXPECT_LE(passes, 100); // and the loop sleeps between passes instead of spinning
}

TEST(ValueTextTest, VersionsAndDurations)
{
    const std::vector<std::pair<uint8_t, std::string>> hw = {{5, "005"}, {123, "123"}, {0, "000"}};
    for (const auto &[v, s] : hw)
        EXPECT_EQ(HWVersionToStr(v), s);
    const std::vector<std::pair<uint8_t, std::string>> fw = {{14, "1.4"}, {105, "10.5"}, {7, "0.7"}, {255, "25.5"}};
    for (const auto &[v, s] : fw)
        EXPECT_EQ(FWVersionToStr(v), s);
    const std::vector<std::pair<int32_t, std::string>> hms = {
        {0, "0:00:00"},    {-7, "0:00:00"},      {INT32_MIN, "0:00:00"},     {60, "0:01:00"},
        {3599, "0:59:59"}, {90061, "25:01:01"}, {INT32_MAX, "596523:14:07"},
    };
    for (const auto &[v, s] : hms)
        EXPECT_EQ(SecondsToHMS(v), s) << v;
}

TEST(LifeToMonthDayTest, Boundaries)
{
    struct Case {
        uint32_t in, months, days;
    };
    const std::vector<Case> cases = {
        {0, 0, 1},           {86400, 0, 1},          {86401, 0, 2},     {2628000, 0, 31},
        {2628001, 1, 1},     {2 * 2628000 - 10, 2, 0}, {2 * 2628000 + 1, 2, 1},
        {63072000, 24, 0},   {63072001, 24, 1},      {2628000u * 24 + 86400u * 40, 24, 30},
        {0xFFFFFFFFu, 24, 30}, // erased counter: no 32-bit wrap in the rounding
    };
    for (const auto &c : cases) {
        EXPECT_EQ(LifeToMonthDay(c.in), (RMonthDay{c.months, c.days})) << c.in;
        uint32_t m = 99, d = 99;
        LifeToMonthDay(c.in, m, d);
        EXPECT_FALSE(m == 0 && d == 0) << c.in;
    }
}

TEST(FormatTest, ReadingsAndFixedDecimals)
{
    const std::vector<std::pair<float, std::string>> readings = {
        {-0.5f, "-0.5"}, {25.5f, "25.5"},  {0.0f, "0.0"},         {-0.04f, "0.0"},
        {0.15f, "0.2"},  {-0.25f, "-0.3"}, {-3276.8f, "-3276.8"}, {9.96f, "10.0"},
    };
    for (const auto &[v, s] : readings)
        EXPECT_EQ(ReadingToStr(v), s) << v;

    struct Case {
        double v;
        int d;
        std::string out;
    };
    const std::vector<Case> fixed = {
        {3.44, 3, "3.440"}, {0.5, 0, "1"},      {-0.5, 0, "-1"},             {-0.4, 0, "0"},
        {1.005, 2, "1.01"}, {12.3456, 9, "12.34560000"}, {7.25, -1, "7"},
    };
    for (const auto &c : fixed)
        EXPECT_EQ(FormatFixed(c.v, c.d), c.out) << c.v << " / " << c.d;
    EXPECT_EQ(FormatFixed(std::numeric_limits<double>::quiet_NaN(), 1), "NAN");
    EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 1), "-INF");
}

} // namespace
