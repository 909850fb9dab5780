#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "ui/NumberText.h"

namespace {

// Formats into a buffer with guard bytes after the 32 the format may use.
std::string Format(double value) {
  char buffer[kNumberTextSize + 8];
  std::memset(buffer, 'X', sizeof buffer);
  FormatNumberText(value, buffer);
  for (size_t i = kNumberTextSize; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 'X') << "overrun";
  EXPECT_LT(std::strlen(buffer), size_t(kNumberTextSize));
  return buffer;
}

// Parses, and reports a refused text as "refused" so that both the flag and the
// zero result are checked in one comparison.
std::string ParseResult(const char* text) {
  double value = -1.0;
  const bool ok = ParseNumberText(text, &value);
  if (!ok) return value == 0.0 ? "refused" : "refused but not 0";
  char out[64];
  std::snprintf(out, sizeof out, "%.17g", value);
  return out;
}

}  // namespace

TEST(NumberText, FourDecimalsThenTrimmed) {
  EXPECT_EQ(Format(45), "45");
  EXPECT_EQ(Format(12.5), "12.5");
  EXPECT_EQ(Format(0), "0");
  EXPECT_EQ(Format(12.3456), "12.3456");
  EXPECT_EQ(Format(100), "100");
  EXPECT_EQ(Format(9999), "9999");
  EXPECT_EQ(Format(10), "10");  // the zero of the integer part stays
}

TEST(NumberText, PrintingRoundsToFourDecimalsBeforeTrimming) {
  EXPECT_EQ(Format(99.99996), "100");
  EXPECT_EQ(Format(0.00004), "0");
  EXPECT_EQ(Format(12.30001), "12.3");
  EXPECT_EQ(Format(44.99999), "45");
  EXPECT_EQ(Format(0.00005001), "0.0001");
}

TEST(NumberText, TheLargestCountOfTheDialogFits) {
  // The frame counter is a 32-bit count: 2147483647 prints in 15 characters.
  EXPECT_EQ(Format(2147483647.0), "2147483647");
  EXPECT_EQ(Format(-2147483648.0), "-2147483648");
}

TEST(NumberText, TooLongValuesGetTheExponentFormWithoutOverrun) {
  // "%.4f" of 1e30 needs 36 characters.
  const std::string big = Format(1e30);
  EXPECT_EQ(big.substr(0, 8), "1.0000e+");
  double back = 0;
  ASSERT_TRUE(ParseNumberText(big.c_str(), &back));
  EXPECT_FLOAT_EQ(float(back), 1e30f);
  // The largest double, both signs: still within the buffer.
  EXPECT_EQ(Format(1.7976931348623157e308).substr(0, 8), "1.7977e+");
  EXPECT_EQ(Format(-1.7976931348623157e308).substr(0, 9), "-1.7977e+");
  // Just below the switch the fixed form is kept: 26 digits + ".0000" = 31.
  EXPECT_EQ(Format(1e25), "10000000000000000905969664");
  // At the switch, the exponent form's five digits read back below it: the text
  // is the fixed form of what it reads back, so reading and showing again keeps it.
  const float justPast = -1.0000053749334243e25f;
  const std::string shown = Format(justPast);
  EXPECT_EQ(shown, "-9999999562023526247432192");
  ASSERT_TRUE(ParseNumberText(shown.c_str(), &back));
  EXPECT_EQ(Format(back), shown);
}

TEST(NumberText, NonFiniteValuesAreWrittenAsTextThatIsRefused) {
  EXPECT_EQ(Format(NAN), "nan");
  EXPECT_EQ(Format(INFINITY), "inf");
  EXPECT_EQ(Format(-INFINITY), "-inf");
  EXPECT_EQ(ParseResult(Format(NAN).c_str()), "refused");
  EXPECT_EQ(ParseResult(Format(-INFINITY).c_str()), "refused");
}

TEST(NumberText, ReadsIntoSinglePrecision) {
  EXPECT_EQ(ParseResult("45.1"), "45.099998474121094");
  EXPECT_EQ(ParseResult("12.5"), "12.5");
  EXPECT_EQ(ParseResult("1e2"), "100");
  EXPECT_EQ(ParseResult("1E+2"), "100");
  EXPECT_EQ(ParseResult("250e-1"), "25");
  EXPECT_EQ(ParseResult("0.1"), "0.10000000149011612");
}

TEST(NumberText, BlanksSignPointAndTheRestIgnored) {
  EXPECT_EQ(ParseResult(" 5"), "5");
  EXPECT_EQ(ParseResult("\t 7"), "7");
  EXPECT_EQ(ParseResult("-5"), "-5");
  EXPECT_EQ(ParseResult("+5"), "5");
  EXPECT_EQ(ParseResult(".5"), "0.5");
  EXPECT_EQ(ParseResult("5."), "5");
  EXPECT_EQ(ParseResult("12abc"), "12");
  EXPECT_EQ(ParseResult("12 34"), "12");
  EXPECT_EQ(ParseResult("1e"), "1");     // an exponent needs a digit
  EXPECT_EQ(ParseResult("1e+"), "1");
  EXPECT_EQ(ParseResult("3.5.2"), "3.5");
}

TEST(NumberText, TextWithoutLeadingNumberIsRefused) {
  EXPECT_EQ(ParseResult(""), "refused");
  EXPECT_EQ(ParseResult("   "), "refused");
  EXPECT_EQ(ParseResult("-"), "refused");
  EXPECT_EQ(ParseResult("."), "refused");
  EXPECT_EQ(ParseResult("-."), "refused");
  EXPECT_EQ(ParseResult("abc"), "refused");
  EXPECT_EQ(ParseResult("- 5"), "refused");
  EXPECT_EQ(ParseResult("e5"), "refused");
}

// The C library's "%f" accepts these and reads 0x10 as 16; the dialog does not.
TEST(NumberText, NanInfAndHexAreNotNumbersHere) {
  EXPECT_EQ(ParseResult("nan"), "refused");
  EXPECT_EQ(ParseResult("NaN"), "refused");
  EXPECT_EQ(ParseResult("inf"), "refused");
  EXPECT_EQ(ParseResult("-infinity"), "refused");
  EXPECT_EQ(ParseResult("0x10"), "0");
  EXPECT_EQ(ParseResult("0x1p4"), "0");
}

TEST(NumberText, NeverReadsAnInfiniteValue) {
  EXPECT_EQ(ParseResult("1e39"), "3.4028234663852886e+38");
  EXPECT_EQ(ParseResult("-1e999"), "-3.4028234663852886e+38");
  EXPECT_EQ(ParseResult("1e-50"), "0");
}

TEST(NumberText, LooksAtNoMoreThan31Characters) {
  // 31 characters: 30 blanks and a digit are read; with 31 blanks the digit is
  // the 32nd character and out of reach, as in a 32-byte edit buffer.
  std::string fits(30, ' ');
  fits += "7";
  EXPECT_EQ(ParseResult(fits.c_str()), "7");
  std::string beyond(31, ' ');
  beyond += "7";
  EXPECT_EQ(ParseResult(beyond.c_str()), "refused");
  // A long run of digits is cut at 31 as well.
  std::string digits(40, '1');
  double value = 0;
  ASSERT_TRUE(ParseNumberText(digits.c_str(), &value));
  EXPECT_FLOAT_EQ(float(value), 1.1111111e30f);
}

TEST(NumberText, WrittenTextReadsBackToTheShownValue) {
  const double values[] = {0, 1, 12.5, 45.1, 99.99, 100, 9999, 0.0001};
  for (double v : values) {
    double back = -1;
    ASSERT_TRUE(ParseNumberText(Format(v).c_str(), &back)) << v;
    EXPECT_EQ(back, double(float(v))) << v;
  }
}
