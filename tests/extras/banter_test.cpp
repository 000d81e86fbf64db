// The character's answers to clicks and drags: the remarks by the time of day, and what the loaded
// character does with them.
#include "extras/banter.h"
#include "character/character_host.h"
#include "core/clock.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "support/character_rig.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"

#include <agent/character.h>
#include <agent/clock.h>

#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QDate kFriday(2026, 12, 4);

QDateTime At(int h, int m, int s, int ms = 0, QDate date = kFriday) { return QDateTime(date, QTime(h, m, s, ms)); }

}  // namespace

TEST(Banter, SecondsAreRoundedHalvesToEven) {
  EXPECT_EQ(RoundedSecondOfDay(QTime(12, 0, 2)), 43202);
  EXPECT_EQ(RoundedSecondOfDay(QTime(12, 0, 2, 500)), 43202);  // 43202.5: the even neighbour
  EXPECT_EQ(RoundedSecondOfDay(QTime(12, 0, 3, 500)), 43204);  // 43203.5: the even neighbour
  EXPECT_EQ(RoundedSecondOfDay(QTime(12, 0, 2, 501)), 43203);
  EXPECT_EQ(RoundedSecondOfDay(QTime(12, 0, 2, 499)), 43202);
  EXPECT_EQ(RoundedSecondOfDay(QTime(23, 59, 59, 600)), 86400);  // rounds past the last second
}

// Each remark is picked by the rounded second: over one turn of the list every remark comes up
// once, none twice, and a moment rounds to the same remark as its rounded second.
TEST(Banter, EveryRemarkComesUpOnceInATurnOfItsList) {
  QSet<QString> clicks;
  for (int s = 0; s < 5; ++s) {
    const QString remark = ClickRemark(At(12, 0, s));
    EXPECT_TRUE(remark.endsWith(kMenuHint)) << remark.toStdString();
    EXPECT_GT(remark.size(), kMenuHint.size()) << s;
    clicks << remark;
  }
  EXPECT_EQ(clicks.size(), 5);
  EXPECT_EQ(ClickRemark(At(12, 0, 2, 500)), ClickRemark(At(12, 0, 2)));
  EXPECT_EQ(ClickRemark(At(23, 59, 59, 600)), ClickRemark(At(12, 0, 0)));  // 86400 is a multiple of 5

  // 8:59:44 is second 32384 = 22 * 1472, where a turn of the drag remarks begins.
  QSet<QString> drags;
  for (int s = 0; s < 22; ++s) {
    const QString remark = DragRemark(At(8, 59, 44).addSecs(s));
    EXPECT_FALSE(remark.isEmpty()) << s;
    drags << remark;
  }
  EXPECT_EQ(drags.size(), 22);
  // The last one is made from the weekday and the part of the day.
  EXPECT_EQ(DragRemark(At(9, 0, 5)), "Hope you are feeling fine on this nice Friday Morning");
  EXPECT_EQ(DragRemark(At(15, 0, 31, 0, kFriday.addDays(2))),
            "Hope you are feeling fine on this nice Sunday Afternoon");
  EXPECT_EQ(DragRemark(At(20, 0, 27)), "Hope you are feeling fine on this nice Friday Evening");
  EXPECT_NE(DragRemark(At(9, 0, 5, 500)), DragRemark(At(9, 0, 5)));  // 32405.5 rounds to 32406
}

namespace {

class BanterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    host = testsupport::FastCharacterHost(dir, state, settings, prompter, agentClock, pump);
    host->LoadCharacter("Hoot.ochar", false);
    ASSERT_NE(host->character(), nullptr);
    banter = std::make_unique<CharacterBanter>(*host, clock);
    QObject::connect(host->character(), &agent::Character::requestCompleted,
                     [this](agent::RequestId, agent::RequestStatus status, const QString&) {
                       if (status == agent::RequestStatus::Interrupted) ++interrupted;
                     });
  }
  agent::Character& character() { return *host->character(); }
  // What the balloon showed when the last spoken request finished.
  QString sayToTheEnd() {
    QString said;
    auto c = QObject::connect(host->character(), &agent::Character::requestCompleted,
                              [&](agent::RequestId, agent::RequestStatus status, const QString&) {
                                if (status == agent::RequestStatus::Complete && host->character()->balloonVisible())
                                  said = host->character()->balloonText();
                              });
    QElapsedTimer t;
    t.start();
    while (character().queuedRequests() > 0 && t.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    QObject::disconnect(c);
    return said;
  }

  QTemporaryDir dir;
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  agent::ManualClock agentClock;
  QTimer pump;
  ManualClock clock{At(12, 0, 2)};
  std::unique_ptr<CharacterHost> host;
  std::unique_ptr<CharacterBanter> banter;
  int interrupted = 0;
};

}  // namespace

TEST_F(BanterTest, ALeftClickOnTheShownCharacterStopsItAndSaysTheRemark) {
  // Hidden: a click gets no answer.
  emit character().click(Qt::LeftButton, Qt::NoModifier, 10, 10);
  EXPECT_FALSE(character().isVisible());
  EXPECT_EQ(character().queuedRequests(), 0);

  host->SayText("A long sentence that would take a good while to say out loud.");
  const int queued = character().queuedRequests();
  // The right button belongs to the character's own menu: nothing is said or stopped.
  emit character().click(Qt::RightButton, Qt::NoModifier, 10, 10);
  EXPECT_EQ(character().queuedRequests(), queued);
  EXPECT_EQ(interrupted, 0);

  emit character().click(Qt::LeftButton, Qt::NoModifier, 10, 10);
  EXPECT_GE(interrupted, 1);  // the long sentence was cut (and the Show it queued, if still running)
  EXPECT_EQ(character().currentAnimation().toLower(), "surprised");
  EXPECT_TRUE(sayToTheEnd().endsWith("Watch it with that mouse pointer! You can right click on me to get my menu."));
}

TEST_F(BanterTest, ADragAddsItsRemarkBehindWhatIsSaid) {
  clock.set(At(9, 0, 5));
  host->SayText("First this.");
  const int queued = character().queuedRequests();
  emit character().dragComplete(Qt::RightButton, Qt::NoModifier, 10, 10);
  EXPECT_EQ(character().queuedRequests(), queued);
  emit character().dragComplete(Qt::LeftButton, Qt::NoModifier, 10, 10);
  EXPECT_EQ(character().queuedRequests(), queued + 1);
  EXPECT_EQ(interrupted, 0);
  EXPECT_TRUE(sayToTheEnd().endsWith("on this nice Friday Morning"));
}
