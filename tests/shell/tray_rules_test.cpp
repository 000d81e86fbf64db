// The tray icon's rules: which click opens the viewer, and captions as a StatusNotifier host shows them.
#include "shell/tray_menu.h"
#include "support/caption_keys.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {

// What a menu shows for a caption with keys marked by `mark` (doubled: a literal), and its key.
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
// Qt's dbusmenu export turns the first "&" not last into "_"; dbusmenu reads "_x" as key x.
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

// Every entry has a key of its own and shows on a StatusNotifier host as in the X11 menu.
TEST(TrayCaptions, EveryEntryHasAKeyOfItsOwnAndAStatusNotifierHostShowsItAsTheX11MenuDoes) {
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("&Jesterbox && Quotes...")), "&Jesterbox & Quotes...");
  EXPECT_EQ(AsDbusMenuShows(QStringLiteral("&Jesterbox && Quotes...")).first, "Jesterbox && Quotes...");
  QStringList captions;
  for (const TrayEntry& e : TrayEntries())
    if (e.command) {
      captions << QString::fromUtf8(e.caption);
      EXPECT_TRUE(ShownAlike(captions.last())) << e.caption;
    }
  EXPECT_TRUE(testsupport::NoProblems(testsupport::CheckCaptionKeys(captions)));
  for (const char* caption : {"Plain", "Up&date Me", "&Save && Close && Quit", "Snake_case &name", "&First &Second"})
    EXPECT_TRUE(ShownAlike(QString::fromUtf8(caption))) << caption;
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("Salt && &Pepper")), QString::fromUtf8("Salt \xef\xbc\x86 &Pepper"));
  EXPECT_EQ(AsDbusMenuShows(ExportedMenuCaption(QStringLiteral("Salt && &Pepper"))).second, QChar(u'P'));
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("Salt && Pepper")), QString::fromUtf8("Salt \xef\xbc\x86 Pepper"));
}
