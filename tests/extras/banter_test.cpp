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

#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

QDateTime At(int h, int m, int s, int ms = 0) { return QDateTime(QDate(2026, 12, 4), QTime(h, m, s, ms)); }

TEST(Banter, SecondsRoundHalvesToEvenAndEachTurnOfAListSaysEveryRemarkOnce) {
  const std::pair<QTime, qint64> rounded[] = {{QTime(12, 0, 2, 499), 43202},
                                              {QTime(12, 0, 2, 500), 43202},
                                              {QTime(12, 0, 2, 501), 43203},
                                              {QTime(12, 0, 3, 500), 43204},
                                              {QTime(23, 59, 59, 600), 86400}};
  for (const auto& [time, second] : rounded)
    EXPECT_EQ(RoundedSecondOfDay(time), second) << time.toString("hh:mm:ss.zzz").toStdString();

  QSet<QString> clicks, drags;
  for (int s = 0; s < 5; ++s) clicks << ClickRemark(At(12, 0, s));
  EXPECT_EQ(clicks.size(), 5);
  // 8:59:44 is second 32384 = 22 * 1472, where a turn of the drag remarks begins; its last remark
  // is made from the weekday and the part of the day.
  for (int s = 0; s < 22; ++s) drags << DragRemark(At(8, 59, 44).addSecs(s));
  EXPECT_EQ(drags.size(), 22);
  EXPECT_EQ(DragRemark(At(15, 0, 31)), "Hope you are feeling fine on this nice Friday Afternoon");
}

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
                       if (status == agent::RequestStatus::Complete && character().balloonVisible())
                         said = character().balloonText();
                     });
  }
  agent::Character& character() { return *host->character(); }
  QString sayToTheEnd() {
    EXPECT_TRUE(testsupport::RunEventsUntil([this] { return character().queuedRequests() == 0; }, 10000));
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
  QString said;
};

// A left click on the shown character stops it and says the remark; a drag adds its remark behind
// what is said. The right button (the character's menu) and a hidden character get no answer.
TEST_F(BanterTest, AClickStopsTheCharacterAndADragQueuesBehind) {
  emit character().click(Qt::LeftButton, Qt::NoModifier, 10, 10);
  EXPECT_EQ(character().queuedRequests(), 0);

  host->SayText("A long sentence that would take a good while to say out loud.");
  const int queued = character().queuedRequests();
  emit character().click(Qt::RightButton, Qt::NoModifier, 10, 10);
  emit character().dragComplete(Qt::RightButton, Qt::NoModifier, 10, 10);
  EXPECT_EQ(character().queuedRequests(), queued);
  EXPECT_EQ(interrupted, 0);
  emit character().dragComplete(Qt::LeftButton, Qt::NoModifier, 10, 10);
  EXPECT_EQ(character().queuedRequests(), queued + 1);
  EXPECT_EQ(interrupted, 0);

  emit character().click(Qt::LeftButton, Qt::NoModifier, 10, 10);
  EXPECT_GE(interrupted, 1);
  EXPECT_EQ(character().currentAnimation().toLower(), "surprised");
  const QString heard = sayToTheEnd();  // the remark without its gesture tag
  EXPECT_TRUE(!heard.isEmpty() && ClickRemark(At(12, 0, 2)).endsWith(heard)) << heard.toStdString();
}

}  // namespace
