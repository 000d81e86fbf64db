// The tray icon's rules: which click opens the viewer, and the menu captions as a StatusNotifier
// host shows them.
#include "shell/tray_menu.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

// What a QMenu shows for a caption, and its access key ('\0' for none).
std::pair<QString, QChar> AsQMenuShows(const QString& caption) {
  QString shown;
  QChar key;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&' && i + 1 < caption.size()) {
      ++i;
      if (caption[i] != u'&' && key.isNull()) key = caption[i];
    }
    shown += caption[i];
  }
  return {shown, key};
}

// What a StatusNotifier host shows for a caption Qt was given: Qt's dbusmenu export turns the
// first "&" that is not the last character into "_" and passes the rest through; dbusmenu then
// reads "_x" as the access key x and "__" as one "_".
std::pair<QString, QChar> AsDbusMenuShows(const QString& caption) {
  QString exported = caption;
  const qsizetype amp = exported.indexOf(u'&');
  if (amp >= 0 && amp < exported.size() - 1) exported[amp] = u'_';
  QString shown;
  QChar key;
  for (qsizetype i = 0; i < exported.size(); ++i) {
    if (exported[i] == u'_' && i + 1 < exported.size()) {
      ++i;
      if (exported[i] != u'_' && key.isNull()) key = exported[i];
    }
    shown += exported[i];
  }
  return {shown, key};
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

TEST(TrayCaptions, AStatusNotifierHostShowsEveryEntryAsTheX11MenuDoesWithTheSameKey) {
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("&Jesterbox && Quotes...")), "&Jesterbox & Quotes...");
  EXPECT_EQ(AsDbusMenuShows(ExportedMenuCaption(QStringLiteral("&Jesterbox && Quotes..."))),
            std::make_pair(QStringLiteral("Jesterbox & Quotes..."), QChar(u'J')));
  // Given as it is, the caption would show its "&&".
  EXPECT_EQ(AsDbusMenuShows(QStringLiteral("&Jesterbox && Quotes...")).first, "Jesterbox && Quotes...");
  int entries = 0;
  for (const TrayEntry& e : TrayEntries()) {
    if (!e.command) continue;
    ++entries;
    const QString caption = QString::fromUtf8(e.caption);
    EXPECT_EQ(AsDbusMenuShows(ExportedMenuCaption(caption)), AsQMenuShows(caption)) << e.caption;
  }
  EXPECT_EQ(entries, 15);
}

TEST(TrayCaptions, CaptionsOutsideTheMenuKeepTheirTextAndKeyWhereDbusmenuCanHoldThem) {
  const auto same = [](const char* caption) {
    const QString c = QString::fromUtf8(caption);
    return AsDbusMenuShows(ExportedMenuCaption(c)) == AsQMenuShows(c);
  };
  EXPECT_TRUE(same("Plain"));
  EXPECT_TRUE(same("Up&date Me"));
  EXPECT_TRUE(same("&Save && Close && Quit"));
  EXPECT_TRUE(same("Snake_case &name"));
  EXPECT_TRUE(same("&First &Second"));
  // A literal before the key, or without a key at all, can only look alike.
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("Salt && &Pepper")), QString::fromUtf8("Salt \xef\xbc\x86 &Pepper"));
  EXPECT_EQ(AsDbusMenuShows(ExportedMenuCaption(QStringLiteral("Salt && &Pepper"))).second, QChar(u'P'));
  EXPECT_EQ(ExportedMenuCaption(QStringLiteral("Salt && Pepper")), QString::fromUtf8("Salt \xef\xbc\x86 Pepper"));
}
