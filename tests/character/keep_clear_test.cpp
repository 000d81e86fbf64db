// The character keeps off the dialogs the user must read or answer: the program's character over
// the real character platform, headless, with its clock driven by the test.
#include "character/keep_clear.h"
#include "character/character_host.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "support/character_rig.h"
#include "support/qt_app.h"
#include "support/scripted_prompter.h"

#include <agent/character.h>
#include <agent/clock.h>

#include <QDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

class KeepClearTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    host = testsupport::FastCharacterHost(dir, state, settings, prompter, clock, pump);
    host->LoadCharacter("Hoot.ochar", false);
    ASSERT_NE(host->character(), nullptr);
    c = host->character();
    standAt(area().topLeft() + QPoint(40, 40));
    host->show();
    ASSERT_TRUE(QTest::qWaitFor([this] { return c->isVisible() && c->queuedRequests() == 0; }, 10000));
  }

  static QRect area() { return QGuiApplication::primaryScreen()->availableGeometry(); }
  void standAt(QPoint p) {
    c->setLeft(p.x());
    c->setTop(p.y());
  }
  // Puts the middle of the character's drawing on `p`.
  void drawingCentredOn(QPoint p) { standAt(at() + (p - c->drawnGeometry().center())); }
  QPoint at() const { return {c->left(), c->top()}; }
  bool clearOf(const QWidget& w) const { return !c->drawnGeometry().intersects(w.frameGeometry()); }
  bool clearedOf(const QWidget& w) const {
    return QTest::qWaitFor([&] { return clearOf(w); }, 5000);
  }
  // Off the window and on the screen, right against one of the window's sides.
  ::testing::AssertionResult besideOf(const QWidget& w) const {
    const QRect drawn = c->drawnGeometry();
    const QRect frame = w.frameGeometry();
    if (drawn.intersects(frame)) return ::testing::AssertionFailure() << "covers the window";
    if (!area().contains(drawn)) return ::testing::AssertionFailure() << "off the screen";
    if (!drawn.adjusted(-1, -1, 1, 1).intersects(frame)) return ::testing::AssertionFailure() << "wandered off";
    return ::testing::AssertionSuccess();
  }
  // A dialog of `size` shown at `topLeft`, with the window system done with it.
  static void showAt(QDialog& d, QPoint topLeft, QSize size) {
    d.resize(size);
    d.move(topLeft);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  }
  // Longer than any move takes to settle.
  static void settle() { QTest::qWait(KeepClear::kSettleMs * 3); }

  QTemporaryDir dir;
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  agent::ManualClock clock;
  QTimer pump;
  std::unique_ptr<CharacterHost> host;
  agent::Character* c = nullptr;
};

TEST_F(KeepClearTest, AMessageBoxShownOverTheCharacterIsClearedAtOnceEvenMidSpeech) {
  // A message box without a parent stands in the middle of the screen; so does the character.
  drawingCentredOn(area().center());
  host->speak(QStringLiteral("Here is a long sentence that takes the character a good while to say, word by word."));
  QMessageBox box(QMessageBox::Information, QStringLiteral("Title"), QStringLiteral("A message."));
  box.show();
  // Cleared from the box's showing itself, without waiting for anything to settle.
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  EXPECT_TRUE(clearOf(box));
  EXPECT_GT(c->queuedRequests(), 0) << "the speech ended before the box was cleared";
  EXPECT_TRUE(besideOf(box));
}

TEST_F(KeepClearTest, WhileATourPlacesTheCharacterOnlyMessageBoxesAreCleared) {
  host->SetKeepClearOfDialogs(false);
  QDialog toured;
  showAt(toured, c->drawnGeometry().topLeft() + QPoint(20, 20), QSize(360, 260));
  drawingCentredOn(toured.frameGeometry().center());
  const QPoint inFront = at();
  settle();
  EXPECT_EQ(at(), inFront);
  ASSERT_FALSE(clearOf(toured));
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Title"), QStringLiteral("A message."));
  box.move(toured.frameGeometry().center() - QPoint(60, 40));
  box.show();
  EXPECT_TRUE(clearedOf(box));
  box.close();
  // The tour over, the toured dialog is cleared too.
  drawingCentredOn(toured.frameGeometry().center());
  settle();
  ASSERT_FALSE(clearOf(toured));
  host->SetKeepClearOfDialogs(true);
  EXPECT_TRUE(clearedOf(toured));
  EXPECT_TRUE(besideOf(toured));
}

}  // namespace
