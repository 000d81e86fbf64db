#include "core/settings_store.h"
#include "core/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace chimewise {

void RestoreWindowPlacement(QWidget& window, const SettingsStore& store, const QString& section) {
  const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const double tpp = TwipsPerPixel(screen->logicalDotsPerInch());
  const QRect avail = screen->geometry();
  auto twips = [tpp](int px) { return static_cast<std::int32_t>(std::lround(px * tpp)); };
  auto pixels = [tpp](std::int32_t tw) { return static_cast<int>(std::lround(tw / tpp)); };
  const TwipsRect r = ReadPlacement(store, section, twips(window.width()), twips(window.height()), twips(avail.width()),
                                    twips(avail.height()));
  window.resize(pixels(r.width), pixels(r.height));
  window.move(avail.x() + pixels(r.left), avail.y() + pixels(r.top));
}

}  // namespace chimewise
