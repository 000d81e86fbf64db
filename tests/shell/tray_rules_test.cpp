// The tray icon's rules: which click opens the viewer, and the menu captions as a StatusNotifier
// host shows them.
#include "shell/tray_menu.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {

// What a menu shows for a caption whose access keys are marked with `mark` (doubled: a literal),
// and its key ('\0' for none).
std::pair<QString, QChar> Shown(const QString& caption, QChar mark) {
  QString shown;
  QChar key;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == mark && i + 1 < caption.size()) {
      ++i;
      if (caption[i] != mark && key.isNull()) key = caption[i];
    }
    shown += caption[i];
  }
  return {shown, key};
}
std::pair<QString, QChar> AsQMenuShows(const QString& caption) { return Shown(caption, u'&'); }
// Qt's dbusmenu export turns the first "&" that is not the last character into "_" and passes the
// rest through; dbusmenu reads "_x" as the key x and "__" as one "_".
std::pair<QString, QChar> AsDbusMenuShows(QString exported) {
  const qsizetype amp = exported.indexOf(u'&');
  if (amp >= 0 && amp < exported.size() - 1) exported[amp] = u'_';
  return Shown(exported, u'_');
}
bool ShownAlike(const QString& caption) {
  return AsDbusMenuShows(ExportedMenuCaption(caption)) == AsQMenuShows(caption);
}

}  // namespace

TEST(TrayClicks, ALeftClickOpensTheViewerOnlyOnAStatusNotifierHost) {
  EXPECT_EQ(TrayClickAction(QSystemTrayIcon::Trigger, true), TrayClick::OpenViewer);
  EXPECT_EQ(TrayClickAction(QSystemTrayIcon::Trigger, false), TrayClick::Nothing);
  for (bool sni : {true, false}) {
    EXPECT_EQ(TrayClickAction(QSystemTrayIcon::DoubleClick, sni), TrayClick::OpenViewerElseMenu);
    EXPECT_EQ(TrayClickAction(QSystemTrayIcon::MiddleClick, sni), TrayClick::OpenViewerElseMenu);
    EXPECT_EQ(TrayClickAction(QSystemTrayIcon::Context, sni), TrayClick::Nothing);
    EXPECT_EQ(TrayClickAction(QSystemTrayIcon::Unknown, sni), TrayClick::Nothing);
  }
}

// A StatusNotifier host shows every caption as the X11 menu does, with the same key, where
// dbusmenu can hold it; given as it is, a caption would show its "&&".
TEST(TrayCaptions, AStatusNotifierHostShowsEveryEntryAsTheX11MenuDoesWithTheSameKey) {
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("&Jesterbox && Quotes...")), "&Jesterbox & Quotes...");
  EXPECT_EQ(AsDbusMenuShows(QStringLiteral("&Jesterbox && Quotes...")).first, "Jesterbox && Quotes...");
  for (const TrayEntry& e : TrayEntries()) {
    if (e.command) {
      EXPECT_TRUE(ShownAlike(QString::fromUtf8(e.caption))) << e.caption;
    }
  }
  for (const char* caption : {"Plain", "Up&date Me", "&Save && Close && Quit", "Snake_case &name", "&First &Second"})
    EXPECT_TRUE(ShownAlike(QString::fromUtf8(caption))) << caption;
  // A literal before the key, or without a key at all, can only look alike.
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("Salt && &Pepper")), QString::fromUtf8("Salt \xef\xbc\x86 &Pepper"));
  EXPECT_EQ(AsDbusMenuShows(ExportedMenuCaption(QStringLiteral("Salt && &Pepper"))).second, QChar(u'P'));
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("Salt && Pepper")), QString::fromUtf8("Salt \xef\xbc\x86 Pepper"));
}
