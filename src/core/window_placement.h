#pragma once
// Saved window placement, in twips (1440 per logical inch), as the settings keep it.

#include <QRect>
#include <QString>
#include <cstdint>

namespace chimewise {

class SettingsStore;

struct TwipsRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool operator==(const TwipsRect&) const = default;
};

// Twips per pixel at a screen's logical DPI (15 at 96 DPI).
double TwipsPerPixel(double logicalDpi);

// Fits a stored placement to the screen: a size larger than the screen is cut to it; a top or
// left that is negative or would push the window off the far edge centres the window on that axis.
TwipsRect FitPlacement(TwipsRect stored, std::int32_t screenWidth, std::int32_t screenHeight);

// Reads "Top", "Left", "Width", "Height" of a section (the sizes default to the current ones) by
// the leading-number rule, then fits them to the screen.
TwipsRect ReadPlacement(const SettingsStore& store, const QString& section, std::int32_t currentWidth,
                        std::int32_t currentHeight, std::int32_t screenWidth, std::int32_t screenHeight);

// Where a window stands, in pixels, as it is saved to be put back with a move (which places the
// frame's top left) and a resize (which sizes the inside): `frame` and `inside` as the window is
// now; `normal` the inside in the normal state while it is maximized or minimized, else empty.
QRect PlacementToSave(const QRect& frame, const QRect& inside, const QRect& normal);

}  // namespace chimewise
