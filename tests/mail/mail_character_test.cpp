// An automatic check spoken by the real character on its silent, fast clock.
#include "mail/mail_fixture.h"
#include "support/character_rig.h"
#include "support/qt_app.h"
#include "support/scripted_prompter.h"

#include <agent/character.h>

#include <QElapsedTimer>

using namespace chimewise;
using namespace chimewise::testing;
using namespace mailbox::testing;

class MailCharacterTest : public MailFixture {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    host = testsupport::FastCharacterHost(dir, state, settings, prompter, agentClock, pump);
    host->LoadCharacter("Hoot.ochar", false);
    ASSERT_NE(host->character(), nullptr);
    QObject::connect(host->character(), &agent::Character::requestCompleted,
                     [this](agent::RequestId, agent::RequestStatus status, const QString&) {
                       if (status == agent::RequestStatus::Complete && host->character()->balloonVisible())
                         balloons << host->character()->balloonText();
                     });
    characterReader =
        std::make_unique<MailReader>(state, settings, clock, *host, account, MessageFiles(dir.filePath("NewMail")));
    characterReader->setSynchronous(true);
    characterReader->stopAll = [this] { host->StopAll(); };
  }
  // Lets the character work through its queue (the fast clock makes this quick).
  void finishSpeaking() {
    QElapsedTimer t;
    t.start();
    while (host->character()->queuedRequests() > 0 && t.elapsed() < 20000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  }

  ScriptedPrompter prompter;
  agent::ManualClock agentClock;
  QTimer pump;
  std::unique_ptr<CharacterHost> host;
  std::unique_ptr<MailReader> characterReader;
  QStringList balloons;
};

TEST_F(MailCharacterTest, AnAutomaticCheckSpeaksAndTheHiddenCharacterHidesAgain) {
  md.Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6));
  host->hide();
  finishSpeaking();
  ASSERT_FALSE(host->visible());
  characterReader->CheckNewMail(true, false);
  finishSpeaking();
  ASSERT_EQ(host->character()->queuedRequests(), 0);
  EXPECT_TRUE(balloons.contains("You have 1 unread message.")) << balloons.join('|').toStdString();
  EXPECT_TRUE(balloons.contains("Subject: Order.")) << balloons.join('|').toStdString();
  EXPECT_FALSE(host->character()->isVisible());
}
