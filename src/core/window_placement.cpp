#include "core/window_placement.h"

#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/value_reading.h"

namespace chimewise {

double TwipsPerPixel(double logicalDpi) { return logicalDpi > 0 ? 1440.0 / logicalDpi : 15.0; }

QRect PlacementToSave(const QRect& frame, const QRect& inside, const QRect& normal) {
  if (normal.isEmpty()) return {frame.topLeft(), inside.size()};
  // The frame around the normal inside is taken to be as wide as the one around the inside now.
  return {normal.topLeft() - (inside.topLeft() - frame.topLeft()), normal.size()};
}

TwipsRect FitPlacement(TwipsRect r, std::int32_t screenWidth, std::int32_t screenHeight) {
  if (screenHeight < r.height) r.height = screenHeight;
  if (screenWidth < r.width) r.width = screenWidth;
  if (r.top < 0 || r.top > screenHeight - r.height) r.top = (screenHeight - r.height) / 2;
  if (r.left < 0 || r.left > screenWidth - r.width) r.left = (screenWidth - r.width) / 2;
  return r;
}

TwipsRect ReadPlacement(const SettingsStore& store, const QString& section, std::int32_t currentWidth,
                        std::int32_t currentHeight, std::int32_t screenWidth, std::int32_t screenHeight) {
  auto num = [&](const char* key, const QString& def) {
    return RoundToInt32(LeadingNumber(store.read(section, QString::fromUtf8(key), def)));
  };
  TwipsRect r;
  r.top = num(settings::PlacementTop, QStringLiteral("0"));
  r.left = num(settings::PlacementLeft, QStringLiteral("0"));
  r.width = num(settings::PlacementWidth, QString::number(currentWidth));
  r.height = num(settings::PlacementHeight, QString::number(currentHeight));
  // A damaged size (zero or negative) would make the window vanish: keep the current one.
  if (r.width <= 0) r.width = currentWidth;
  if (r.height <= 0) r.height = currentHeight;
  return FitPlacement(r, screenWidth, screenHeight);
}

}  // namespace chimewise
