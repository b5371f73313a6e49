#include "settings/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>

namespace kelvaro {
namespace {

struct FormatCase {
    double value;
    NumberPattern pattern;
    const char* comma;  // expected with ',' as separator
};

std::ostream& operator<<(std::ostream& out, const FormatCase& c) {
    return out << c.value << " -> " << c.comma;
}

class FormatNumberTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatNumberTest, FormatsWithEitherSeparator) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(FormatNumber(c.value, c.pattern, ','), c.comma);
    std::string dotted = c.comma;
    for (char& ch : dotted) {
        if (ch == ',')
            ch = '.';
    }
    EXPECT_EQ(FormatNumber(c.value, c.pattern, '.'), dotted);
}

constexpr auto I = NumberPattern::Integer;
constexpr auto T = NumberPattern::ThreeDecimals;
constexpr auto F = NumberPattern::FourDecimals;

INSTANTIATE_TEST_SUITE_P(
    Table, FormatNumberTest,
    ::testing::Values(
        FormatCase{1.5, T, "1,500"}, FormatCase{-1.5, T, "-1,500"}, FormatCase{0, T, "0,000"},
        FormatCase{0, I, "0"}, FormatCase{0, F, "0,0000"},
        // Binary values that are not exactly what they print as.
        FormatCase{8388608.25, T, "8388608,250"}, FormatCase{1234.5678, T, "1234,568"},
        FormatCase{1234.5678, F, "1234,5678"}, FormatCase{0.1 + 0.2, T, "0,300"},
        // Halfway cases go away from zero, judged on the decimal text: 1.0005 is stored as
        // 1.000499999..., yet reads as the typed 1.0005 and so rounds up.
        FormatCase{0.0005, T, "0,001"}, FormatCase{1.0005, T, "1,001"},
        FormatCase{2.0005, T, "2,001"}, FormatCase{-1.0005, T, "-1,001"},
        FormatCase{1.00049, T, "1,000"}, FormatCase{0.00005, F, "0,0001"}, FormatCase{0.5, I, "1"},
        FormatCase{2.5, I, "3"}, FormatCase{-2.5, I, "-3"}, FormatCase{1.4999, I, "1"},
        // Carries through every digit.
        FormatCase{999.9995, T, "1000,000"}, FormatCase{9.99995, F, "10,0000"},
        FormatCase{-0.9999, I, "-1"},
        // Never a negative zero.
        FormatCase{-0.0, T, "0,000"}, FormatCase{-0.0, I, "0"}, FormatCase{-0.0004, T, "0,000"},
        FormatCase{-0.4, I, "0"}, FormatCase{-1e-12, F, "0,0000"},
        // No grouping, no exponent.
        FormatCase{16000000, I, "16000000"}, FormatCase{16000000, T, "16000000,000"},
        FormatCase{144000, I, "144000"}, FormatCase{12345678.9, T, "12345678,900"},
        FormatCase{1e20, I, "100000000000000000000"}, FormatCase{1e-10, F, "0,0000"},
        FormatCase{-8388607.5, I, "-8388608"}));

TEST(FormatNumber, NonFiniteValuesHaveAText) {
    EXPECT_EQ(FormatNumber(NAN, NumberPattern::ThreeDecimals, ','), "NaN");
    EXPECT_EQ(FormatNumber(INFINITY, NumberPattern::ThreeDecimals, ','), "INF");
    EXPECT_EQ(FormatNumber(-INFINITY, NumberPattern::Integer, ','), "-INF");
}

struct ParseCase {
    const char* text;
    char separator;
    std::optional<double> expected;
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c) {
    return out << '"' << c.text << "\" with '" << c.separator << "'";
}

class ParseNumberTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseNumberTest, AcceptsOnlyTheGivenNotation) {
    const ParseCase& c = GetParam();
    EXPECT_EQ(ParseNumber(c.text, c.separator), c.expected);
}

const std::optional<double> kNone;

INSTANTIATE_TEST_SUITE_P(
    Table, ParseNumberTest,
    ::testing::Values(
        ParseCase{"12,5", ',', 12.5}, ParseCase{"12.5", '.', 12.5},
        ParseCase{" -3,25 ", ',', -3.25}, ParseCase{"\t42\t", ',', 42.0}, ParseCase{"+7", ',', 7.0},
        ParseCase{"-0,000", ',', -0.0}, ParseCase{"0,001", ',', 0.001},
        ParseCase{"1,500", ',', 1.5}, ParseCase{"16000000", ',', 16000000.0},
        ParseCase{"144000,0000", ',', 144000.0},
        // A separator may end or begin the digits, but is not a number on its own.
        ParseCase{"12,", ',', 12.0}, ParseCase{",5", ',', 0.5}, ParseCase{"-,5", ',', -0.5},
        ParseCase{",", ',', kNone}, ParseCase{"-,", ',', kNone},
        // The other locale's notation, grouping and anything else fail.
        ParseCase{"2.5", ',', kNone}, ParseCase{"2,5", '.', kNone},
        ParseCase{"1.000,5", ',', kNone}, ParseCase{"1,000.5", '.', kNone},
        ParseCase{"1,2,3", ',', kNone}, ParseCase{"1 000", ',', kNone},
        ParseCase{"1e3", ',', kNone}, ParseCase{"1E3", '.', kNone}, ParseCase{"12a", ',', kNone},
        ParseCase{"abc", ',', kNone}, ParseCase{"0x10", ',', kNone}, ParseCase{"inf", '.', kNone},
        ParseCase{"nan", '.', kNone}, ParseCase{"- 5", ',', kNone}, ParseCase{"+-5", ',', kNone},
        ParseCase{"--5", ',', kNone}, ParseCase{"", ',', kNone}, ParseCase{"   ", ',', kNone},
        ParseCase{"-", ',', kNone}, ParseCase{"+", ',', kNone}));

class ParseStoredNumberTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseStoredNumberTest, AcceptsEitherSeparatorWhateverTheLocale) {
    const ParseCase& c = GetParam();
    EXPECT_EQ(ParseStoredNumber(c.text, c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseStoredNumberTest,
    ::testing::Values(ParseCase{"1000,5", ',', 1000.5}, ParseCase{"1000.5", ',', 1000.5},
                      ParseCase{"1000.5", '.', 1000.5}, ParseCase{"1000,5", '.', 1000.5},
                      ParseCase{"8388608,000", '.', 8388608.0}, ParseCase{"-3", ',', -3.0},
                      ParseCase{"1.000,5", ',', kNone}, ParseCase{"1,000.5", '.', kNone},
                      ParseCase{"abc", ',', kNone}, ParseCase{"", ',', kNone}));

TEST(NumberText, LargeValuesRoundTripExactly) {
    for (const char sep : {',', '.'}) {
        for (const double v : {16000000.0, 144000.0, 8388608.0, -16000000.0}) {
            for (const auto p : {NumberPattern::Integer, NumberPattern::ThreeDecimals,
                                 NumberPattern::FourDecimals}) {
                const std::optional<double> back = ParseNumber(FormatNumber(v, p, sep), sep);
                ASSERT_TRUE(back.has_value());
                EXPECT_EQ(*back, v);
            }
        }
    }
}

TEST(NumberText, FormattedTextsAreStableThroughParsing) {
    // Whatever is formatted parses back to a value that formats to the same text, so a
    // number stored in the settings never drifts when it is read and written again.
    std::mt19937_64 random(42);
    std::uniform_int_distribution<long long> thousandths(-20'000'000'000LL, 20'000'000'000LL);
    std::uniform_real_distribution<double> anyValue(-2e7, 2e7);
    for (int i = 0; i < 20000; ++i) {
        const double v =
            i % 2 == 0 ? static_cast<double>(thousandths(random)) / 1000.0 : anyValue(random);
        for (const auto p : {NumberPattern::ThreeDecimals, NumberPattern::FourDecimals}) {
            const std::string text = FormatNumber(v, p, ',');
            const std::optional<double> back = ParseNumber(text, ',');
            ASSERT_TRUE(back.has_value()) << text;
            ASSERT_EQ(FormatNumber(*back, p, ','), text) << v;
            ASSERT_LE(std::fabs(*back - v),
                      (p == NumberPattern::ThreeDecimals ? 0.0005 : 0.00005) + 1e-8)
                << text;
        }
    }
}

}  // namespace
}  // namespace kelvaro
