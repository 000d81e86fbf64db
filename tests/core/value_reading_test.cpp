#include "core/value_reading.h"

#include <gtest/gtest.h>

using namespace chimewise;

TEST(LeadingNumber, ReadsTheNumberATextStartsWith) {
  EXPECT_EQ(LeadingNumber("5 min"), 5);
  EXPECT_EQ(LeadingNumber("  12abc"), 12);
  EXPECT_EQ(LeadingNumber("-1"), -1);
  EXPECT_EQ(LeadingNumber("+7"), 7);
  EXPECT_DOUBLE_EQ(LeadingNumber("2.5e1x"), 25);
  EXPECT_DOUBLE_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_EQ(LeadingNumber("3e"), 3);  // a dangling exponent is not part of the number
}

TEST(LeadingNumber, DamagedTextReadsAsZero) {
  for (const char* t : {"", "   ", "abc", "-", ".", "e5", "one", "\xC3\xA9", "--5", "1e999"})
    EXPECT_EQ(LeadingNumber(QString::fromUtf8(t)), 0) << t;
}

TEST(NumericReading, RoundsHalvesToEvenAndClampsTo16Bits) {
  EXPECT_EQ(NumericReading("2.5"), 2);
  EXPECT_EQ(NumericReading("3.5"), 4);
  EXPECT_EQ(NumericReading("-0.5"), 0);
  EXPECT_EQ(NumericReading("-1.5"), -2);
  EXPECT_EQ(NumericReading("2.51"), 3);
  EXPECT_EQ(NumericReading("40000"), 32767);
  EXPECT_EQ(NumericReading("-40000"), -32768);
  EXPECT_EQ(RoundToInt32(1e12), 2147483647);
}

TEST(SwitchReadings, EachRuleOnDamagedValues) {
  // numeric flag: only exactly 1 is on
  EXPECT_TRUE(NumericFlag("1"));
  EXPECT_TRUE(NumericFlag("1.4"));
  EXPECT_FALSE(NumericFlag("-1"));
  EXPECT_FALSE(NumericFlag("2"));
  EXPECT_FALSE(NumericFlag("yes"));
  EXPECT_FALSE(NumericFlag(""));
  // not-zero: only the text "0" is off, even an empty text is on
  EXPECT_FALSE(NotZeroReading("0"));
  EXPECT_TRUE(NotZeroReading(""));
  EXPECT_TRUE(NotZeroReading("00"));
  EXPECT_TRUE(NotZeroReading("garbage"));
  // truth: any non-zero number is on; what is not a number is off
  EXPECT_TRUE(TruthReading("-1"));
  EXPECT_TRUE(TruthReading("1"));
  EXPECT_TRUE(TruthReading("0.5"));
  EXPECT_FALSE(TruthReading("0"));
  EXPECT_FALSE(TruthReading("x"));
  EXPECT_FALSE(TruthReading(""));
}
