#include "core/value_reading.h"

#include <gtest/gtest.h>

using namespace chimewise;

TEST(LeadingNumber, ReadsTheNumberATextStartsWithOrZero) {
  EXPECT_EQ(LeadingNumber("  12abc"), 12);
  EXPECT_EQ(LeadingNumber("-1"), -1);
  EXPECT_DOUBLE_EQ(LeadingNumber("2.5e1x"), 25);
  EXPECT_DOUBLE_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_EQ(LeadingNumber("3e"), 3);  // a dangling exponent is not part of the number
  for (const char* t : {"", "   ", "abc", "-", ".", "e5", "one", "\xC3\xA9", "--5", "1e999"})
    EXPECT_EQ(LeadingNumber(QString::fromUtf8(t)), 0) << t;  // damaged text reads as zero
}

TEST(NumericReading, RoundsHalvesToEvenAndClampsTo16Bits) {
  EXPECT_EQ(NumericReading("2.5"), 2);
  EXPECT_EQ(NumericReading("3.5"), 4);
  EXPECT_EQ(NumericReading("-1.5"), -2);
  EXPECT_EQ(NumericReading("2.51"), 3);
  EXPECT_EQ(NumericReading("40000"), 32767);
  EXPECT_EQ(NumericReading("-40000"), -32768);
  EXPECT_EQ(RoundToInt32(1e12), 2147483647);
}

TEST(SwitchReadings, EachRuleOnDamagedValues) {
  // A flag is on only at 1; "not zero" is off only for "0"; truth is any non-zero number.
  for (const char* on : {"1", "1.4"}) EXPECT_TRUE(NumericFlag(on)) << on;
  for (const char* off : {"-1", "2", "yes", ""}) EXPECT_FALSE(NumericFlag(off)) << off;
  for (const char* on : {"", "00", "garbage"}) EXPECT_TRUE(NotZeroReading(on)) << on;
  EXPECT_FALSE(NotZeroReading("0"));
  for (const char* on : {"-1", "1", "0.5"}) EXPECT_TRUE(TruthReading(on)) << on;
  for (const char* off : {"0", "x", ""}) EXPECT_FALSE(TruthReading(off)) << off;
}
