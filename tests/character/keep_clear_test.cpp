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
#include <agent/timer_clock.h>

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

// The program's character, shown and at rest, over the real character platform.
class KeepClearTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host->LoadCharacter("Hoot.ochar", false);
    c = host->character();
    ASSERT_NE(c, nullptr);
    host->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->isVisible() && c->queuedRequests() == 0; }, 10000));
  }

  QApplication& app = testsupport::EnsureQtApp();
  QTemporaryDir dir;
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  agent::ManualTimerClock clock;
  QTimer pump;
  std::unique_ptr<CharacterHost> host = testsupport::FastCharacterHost(dir, state, settings, prompter, clock, pump);
  agent::Character* c = nullptr;
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
};

// A message box without a parent stands in the middle of the screen; so does the character, mid
// speech. It steps aside from the box's showing itself, without waiting for anything to settle,
// to stand beside the box on the screen.
TEST_F(KeepClearTest, AMessageBoxShownOverTheCharacterIsClearedAtOnceEvenMidSpeech) {
  const QPoint by = area.center() - c->drawnGeometry().center();
  c->setLeft(c->left() + by.x());
  c->setTop(c->top() + by.y());
  host->speak(QStringLiteral("Here is a long sentence that takes the character a good while to say, word by word."));
  QMessageBox box(QMessageBox::Information, QStringLiteral("Title"), QStringLiteral("A message."));
  box.show();
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  const QRect drawn = c->drawnGeometry();
  EXPECT_FALSE(drawn.intersects(box.frameGeometry()));
  EXPECT_GT(c->queuedRequests(), 0) << "the speech ended before the box was cleared";
  EXPECT_TRUE(area.contains(drawn));
  EXPECT_TRUE(drawn.adjusted(-1, -1, 1, 1).intersects(box.frameGeometry())) << "wandered off";
}

// Which windows are kept clear: every dialog (a plain one such as Schedule Activity too), or during
// a tour message boxes alone; two dialogs side by side are both cleared, on the screen.
TEST_F(KeepClearTest, EveryDialogOrDuringATourMessageBoxesAloneAndBothOfTwo) {
  const auto centre = [&] {
    const QPoint by = area.center() - c->drawnGeometry().center();
    c->setLeft(c->left() + by.x());
    c->setTop(c->top() + by.y());
    QTest::qWait(KeepClear::kSettleMs * 2);
  };
  const auto covers = [&](const QWidget& w) { return c->drawnGeometry().intersects(w.frameGeometry()); };
  QDialog plain;
  plain.resize(300, 200);
  QMessageBox box(QMessageBox::Information, QStringLiteral("Title"), QStringLiteral("A message."));
  for (const bool touring : {true, false}) {
    host->SetKeepClearOfDialogs(!touring);
    centre();
    plain.move(area.center() - QPoint(150, 100));
    plain.show();
    if (touring) {
      QTest::qWait(KeepClear::kSettleMs * 2);
      EXPECT_TRUE(covers(plain)) << "stepped aside from a toured dialog";
    } else {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !covers(plain); }, 5000));
    }
    plain.hide();
  }
  host->SetKeepClearOfDialogs(false);
  centre();
  box.show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !covers(box); }, 5000));
  box.hide();
  // Two dialogs abreast across the middle: stepping aside from one alone would land on the other.
  host->SetKeepClearOfDialogs(true);
  centre();
  QDialog left, right;
  const QRect drawn = c->drawnGeometry();
  left.setGeometry(QRect(drawn.left() - 260, drawn.top() - 40, 260 + drawn.width() / 2, drawn.height() + 80));
  right.setGeometry(QRect(left.geometry().right() + 1, left.y(), 300, left.height()));
  left.show();
  right.show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !covers(left) && !covers(right); }, 5000));
  EXPECT_TRUE(area.contains(c->drawnGeometry()));
}

}  // namespace
