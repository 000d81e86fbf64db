#include "core/value_reading.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace chimewise {

double LeadingNumber(const QString& text) {
  const QString t = text.trimmed();
  int i = 0;
  const int n = static_cast<int>(t.size());
  auto digitAt = [&](int k) { return k < n && t.at(k).isDigit() && t.at(k).unicode() < 128; };
  std::string s;
  if (i < n && (t.at(i) == u'+' || t.at(i) == u'-')) s += static_cast<char>(t.at(i++).unicode());
  bool any = false;
  while (digitAt(i)) {
    s += static_cast<char>(t.at(i++).unicode());
    any = true;
  }
  if (i < n && t.at(i) == u'.') {
    s += '.';
    ++i;
    while (digitAt(i)) {
      s += static_cast<char>(t.at(i++).unicode());
      any = true;
    }
  }
  if (!any) return 0.0;
  if (i < n && (t.at(i) == u'e' || t.at(i) == u'E')) {
    int j = i + 1;
    std::string e = "e";
    if (j < n && (t.at(j) == u'+' || t.at(j) == u'-')) e += static_cast<char>(t.at(j++).unicode());
    if (digitAt(j)) {
      while (digitAt(j)) e += static_cast<char>(t.at(j++).unicode());
      s += e;
    }
  }
  const double v = std::strtod(s.c_str(), nullptr);
  return std::isfinite(v) ? v : 0.0;
}

namespace {
template <typename Int>
Int RoundHalfEvenClamped(double value) {
  if (std::isnan(value)) return 0;
  const double r = std::nearbyint(value);  // default rounding mode: to nearest, ties to even
  if (r <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  if (r >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  return static_cast<Int>(r);
}
}  // namespace

std::int16_t RoundToInt16(double value) { return RoundHalfEvenClamped<std::int16_t>(value); }
std::int32_t RoundToInt32(double value) { return RoundHalfEvenClamped<std::int32_t>(value); }

std::int16_t NumericReading(const QString& text) { return RoundToInt16(LeadingNumber(text)); }

bool NumericFlag(const QString& text) { return NumericReading(text) == 1; }

bool NotZeroReading(const QString& text) { return text != QStringLiteral("0"); }

bool TruthReading(const QString& text) { return LeadingNumber(text) != 0.0; }

}  // namespace chimewise
