#include "agent/character.h"
#include "agent/agent_service.h"
#include "agent/timer_clock.h"

#include "balloon_window.h"
#include "support/agt_agent.h"
#include "support/qt_app.h"
#include "support/speech_engine.h"
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWidget>

using namespace agent;
using chimewise::testsupport::AgentAsset;
using chimewise::testsupport::TestSpeechEngine;

namespace {

// The character of AgentRig, with a log of its requests' starts and ends.
class AgentCharacter : public chimewise::testsupport::AgentRig {
 protected:
  void SetUp() override {
    AgentRig::SetUp();
    if (!c) return;
    QObject::connect(c, &Character::requestStarted, [this](RequestId id) { log << ev("start", id); });
    QObject::connect(c, &Character::requestCompleted, [this](RequestId id, RequestStatus s, const QString& m) {
      log << ev(s == RequestStatus::Complete ? "done" : s == RequestStatus::Failed ? "fail" : "drop", id);
      if (!m.isEmpty()) messages << m;
    });
  }
  static QString ev(const char* what, RequestId id) { return QStringLiteral("%1 %2").arg(what).arg(id); }
  void showAt(int x, int y) {
    c->moveTo(x, y);
    c->show();
    run(2000);
    log.clear();
  }
  QStringList log, messages;
};

// `global` is where the pointer is on the screen; the window may have moved under it.
void mouse(QWidget* w, QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, QPointF(global - w->pos()), QPointF(global), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
void click(QWidget* w, QPoint global) {
  mouse(w, QEvent::MouseButtonPress, global, Qt::LeftButton, Qt::LeftButton);
  mouse(w, QEvent::MouseButtonRelease, global, Qt::LeftButton, Qt::NoButton);
}

std::vector<qint64> bookmarkTimes(const Utterance& u) {
  std::vector<qint64> at;
  for (const SpeechEvent& e : u.events)
    if (e.kind == SpeechEvent::Bookmark) at.push_back(e.ms);
  return at;
}

}  // namespace

TEST_F(AgentCharacter, RequestsRunOneAfterAnotherAndAMissingAnimationFailsAlone) {
  const RequestId show = c->show();
  const RequestId wave = c->play(QStringLiteral("wave"));  // any letter case
  const RequestId missing = c->play(QStringLiteral("Juggle"));
  const RequestId move = c->moveTo(300, 200);
  const RequestId say = c->speak(QStringLiteral("Hello there."));
  const RequestId hide = c->hide();
  EXPECT_EQ(c->queuedRequests(), 6);
  QSignalSpy hidden(c, &Character::hidden);
  run(15000);
  EXPECT_EQ(log, (QStringList{ev("start", show), ev("done", show), ev("start", wave), ev("done", wave),
                              ev("start", missing), ev("fail", missing), ev("start", move), ev("done", move),
                              ev("start", say), ev("done", say), ev("start", hide), ev("done", hide)}));
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains(QStringLiteral("Juggle")));
  EXPECT_EQ(hidden.count(), 1);
  EXPECT_FALSE(c->isVisible());
  EXPECT_EQ(QPoint(c->left(), c->top()), QPoint(300, 200));
  EXPECT_EQ(c->queuedRequests(), 0);
}

// What is asked for first in line waits only for the running request and the earlier first ones.
TEST_F(AgentCharacter, RequestsMadeFirstInLineGoAheadOfTheQueue) {
  const RequestId one = c->speak(QStringLiteral("One."));
  const RequestId two = c->speak(QStringLiteral("Two."));
  c->setQueueFirst(true);
  const RequestId alarm = c->speak(QStringLiteral("Alarm."));
  const RequestId wave = c->play(QStringLiteral("Wave"));
  c->setQueueFirst(false);
  const RequestId three = c->speak(QStringLiteral("Three."));
  run(20000);
  EXPECT_EQ(log.filter(QStringLiteral("start")), (QStringList{ev("start", one), ev("start", alarm), ev("start", wave),
                                                              ev("start", two), ev("start", three)}));
  // Another feature's stop drops the rest and keeps those.
  log.clear();
  const RequestId four = c->speak(QStringLiteral("Four."));
  c->setQueueFirst(true);
  const RequestId time = c->speak(QStringLiteral("It is noon."));
  c->setQueueFirst(false);
  const RequestId five = c->speak(QStringLiteral("Five."));
  c->stopAllButFirst();
  run(20000);
  EXPECT_EQ(log,
            (QStringList{ev("start", four), ev("drop", four), ev("drop", five), ev("start", time), ev("done", time)}));
}

TEST_F(AgentCharacter, StopEndsTheRunningRequestAndDropsTheQueueOrOnlyTheOneNamed) {
  showAt(0, 0);
  const RequestId a = c->play(QStringLiteral("Wave"));
  const RequestId b = c->play(QStringLiteral("Greet"));
  const RequestId s = c->speak(QStringLiteral("You will not hear this."));
  QSignalSpy bookmarks(c, &Character::bookmark);
  c->speak(QStringLiteral("\\Mrk=100\\"));
  run(200);
  c->stop();
  EXPECT_EQ(c->queuedRequests(), 0);
  run(10000);
  EXPECT_EQ(bookmarks.count(), 0);
  EXPECT_EQ(log.mid(0, 2), (QStringList{ev("start", a), ev("drop", a)}));
  EXPECT_TRUE(log.contains(ev("drop", b)));
  EXPECT_TRUE(log.contains(ev("drop", s)));
  EXPECT_FALSE(log.contains(ev("start", b)));

  // It takes new requests afterwards; the first starts at once on an idle character, the others
  // wait their turn, and one stopped by name is dropped alone.
  log.clear();
  const RequestId d = c->play(QStringLiteral("Blink"));
  const RequestId e = c->play(QStringLiteral("Blink"));
  const RequestId f = c->play(QStringLiteral("Blink"));
  c->stop(e);
  run(3000);
  EXPECT_EQ(log, (QStringList{ev("start", d), ev("drop", e), ev("done", d), ev("start", f), ev("done", f)}));

  // stopAll cuts speech at once.
  c->speak(QStringLiteral("This is a rather long sentence that goes on and on \\Mrk=5\\ and on."));
  run(600);
  EXPECT_TRUE(c->balloonVisible());
  c->stopAll();
  EXPECT_FALSE(c->balloonVisible());
  EXPECT_EQ(c->mouthShape(), MouthShape::Closed);
  run(10000);
  EXPECT_EQ(bookmarks.count(), 0);
}

TEST_F(AgentCharacter, AWaitHoldsWhatFollowsForItsTimeAndAStoppedOneLeavesNoTimer) {
  // Hidden, the wait keeps its time on the clock all the same.
  QSignalSpy bookmarks(c, &Character::bookmark);
  const RequestId wait = c->wait(1500);
  const RequestId say = c->speak(QStringLiteral("\\Mrk=7\\"));
  EXPECT_EQ(clock.activeTimers(), 1);
  run(1490);
  EXPECT_EQ(log, (QStringList{ev("start", wait)}));
  run(500);
  EXPECT_EQ(log.mid(0, 3), (QStringList{ev("start", wait), ev("done", wait), ev("start", say)}));
  EXPECT_EQ(bookmarks.count(), 1);
  // A wait stopped leaves no timer running behind it.
  c->wait(60000);
  c->stop();
  EXPECT_EQ(clock.activeTimers(), 0);
  for (const qint64 ms : {0, -5}) {
    const RequestId none = c->wait(ms);
    EXPECT_TRUE(log.contains(ev("done", none))) << ms << " ms is nothing to wait for";
  }
}

TEST_F(AgentCharacter, BookmarksWordsAndMouthFollowThePlayedAudio) {
  showAt(0, 0);
  const QString text = QStringLiteral("\\Mrk=1\\one, \\Mrk=2\\ two three. \\Mrk=3\\ four \\Mrk=4\\");
  // The same synthesis the character will do, to know where the marks fall in the audio.
  const Voice voice = c->definition().voice;
  const Utterance expected = TestSpeechEngine().synthesizeNow(translateMarkup(text, voice), voice);
  const std::vector<qint64> markAt = bookmarkTimes(expected);
  ASSERT_EQ(markAt.size(), 4u);
  ASSERT_GT(markAt[2], markAt[1] + 100);

  qint64 started = -1;
  QObject::connect(c, &Character::requestStarted, [&](RequestId) {
    if (started < 0) started = clock.nowMs();
  });
  std::vector<std::pair<int, qint64>> fired;
  QStringList balloonAtMark;
  QObject::connect(c, &Character::bookmark, [&](int id) {
    fired.emplace_back(id, clock.nowMs() - started);
    balloonAtMark << c->balloonText();
  });
  c->speak(text);
  c->speak(QStringLiteral("\\Mrk=100\\"));
  QSet<int> mouths;
  for (int i = 0; i < 600 && fired.size() < 5; ++i) {
    run(10);
    mouths.insert(int(c->mouthShape()));
  }
  ASSERT_EQ(fired.size(), 5u);
  // Each when the played position reaches it (the synthesis's timing varies by a few
  // milliseconds from one run to the next), after the words before it are shown and before those
  // after it are; 100 after everything queued before it has been said.
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(fired[i].first, int(i + 1));
    EXPECT_NEAR(double(fired[i].second), double(markAt[i]), 25.0) << i;
  }
  EXPECT_EQ(balloonAtMark.mid(1, 3), (QStringList{"one,", "one, two three.", "one, two three. four"}));
  EXPECT_EQ(fired[4].first, 100);
  EXPECT_GE(fired[4].second, expected.lengthMs() - 25);
  EXPECT_GE(mouths.size(), 3);
}

// Hidden, it still speaks its bookmarks but runs no timers; shown, it schedules its idle
// behaviour, and hidden again it stops.
TEST_F(AgentCharacter, HiddenItRunsNoTimers) {
  QSignalSpy bookmarks(c, &Character::bookmark);
  c->speak(QStringLiteral("\\Mrk=100\\"));
  run(1000);
  EXPECT_EQ(bookmarks.count(), 1);
  EXPECT_EQ(clock.activeTimers(), 0);
  showAt(0, 0);
  EXPECT_GT(clock.activeTimers(), 0);
  c->hide();
  run(2000);
  EXPECT_FALSE(c->window()->isVisible());
  run(600000);
  EXPECT_EQ(clock.activeTimers(), 0);
}

TEST_F(AgentCharacter, ClickAndDragRaiseTheirEvents) {
  showAt(100, 100);
  QWidget* w = c->window();
  QSignalSpy clicks(c, &Character::click);
  QSignalSpy drags(c, &Character::dragComplete);
  const QPoint mid = QPoint(100, 100) + QPoint(w->width() / 2, w->height() / 2);
  click(w, mid);
  ASSERT_EQ(clicks.count(), 1);
  EXPECT_EQ(QPoint(clicks[0][2].toInt(), clicks[0][3].toInt()), mid);
  mouse(w, QEvent::MouseButtonPress, mid, Qt::LeftButton, Qt::LeftButton);
  mouse(w, QEvent::MouseMove, mid + QPoint(20, 10), Qt::NoButton, Qt::LeftButton);
  mouse(w, QEvent::MouseMove, mid + QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
  mouse(w, QEvent::MouseButtonRelease, mid + QPoint(40, 30), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(drags.count(), 1);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(w->pos(), QPoint(140, 130));
}

TEST_F(AgentCharacter, ServiceLoadsUnderAnIdUnloadsAndShutsDown) {
  EXPECT_EQ(service->load(QStringLiteral("CharacterID"), AgentAsset("Bolt.ochar")).failure().kind,
            FailureKind::IdTaken);
  service->unload(QStringLiteral("CharacterID"));
  EXPECT_EQ(service->character(QStringLiteral("CharacterID")), nullptr);
  ASSERT_TRUE(service->load(QStringLiteral("CharacterID"), AgentAsset("Bolt.ochar")));
  EXPECT_FALSE(service->load(QStringLiteral("Other"), AgentAsset("none.ochar")));
  EXPECT_EQ(service->ids(), QStringList{"CharacterID"});
  QSignalSpy shutdown(service.get(), &AgentService::shutdown);
  service->close();
  EXPECT_EQ(shutdown.count(), 1);
  EXPECT_TRUE(service->ids().isEmpty());
  c = nullptr;
}

// The program's own configuration: real time and synthesis on the speech thread.
TEST(AgentCharacterRealTime, SpeechIsSynthesisedOffTheCallingThread) {
  chimewise::testsupport::EnsureQtApp();
  AgentOptions o;
  o.audio = AgentOptions::Audio::Silent;
  AgentService service(o);
  Character* c = service.load(QStringLiteral("CharacterID"), AgentAsset("Bolt.ochar")).value();
  ASSERT_TRUE(c);
  QSignalSpy bookmarks(c, &Character::bookmark);
  QSignalSpy started(c, &Character::speechStarted);
  c->speak(QStringLiteral("Hi \\Mrk=7\\"));
  // Nothing is synthesised inside speak(): it returns before the speech thread has answered.
  EXPECT_EQ(started.count(), 0);
  EXPECT_TRUE(bookmarks.wait(5000));
  EXPECT_EQ(started.count(), 1);
  EXPECT_EQ(bookmarks[0][0].toInt(), 7);
  // A request stopped while being synthesised never plays.
  c->speak(QStringLiteral("This sentence is stopped before it is heard. \\Mrk=8\\"));
  c->stopAll();
  EXPECT_FALSE(bookmarks.wait(1500));
  EXPECT_EQ(started.count(), 1);
}

// Engines made and dropped one after another (each of the program's tests does so), each
// speaking on its own thread, neither wait forever at the end nor lose espeak-ng for the next one.
TEST(AgentSpeechEngine, EnginesComeAndGoWithEspeakWithoutHanging) {
  chimewise::testsupport::EnsureQtApp();
  Voice voice;
  voice.name = QStringLiteral("espeak:en-us");
  const SpeechMarkup markup = translateMarkup(QStringLiteral("Hi there."), voice);
  for (int i = 0; i < 40; ++i) {
    SpeechEngine engine;
    QObject receiver;
    qint64 heardMs = 0;
    bool last = false;
    engine.synthesize(markup, voice, &receiver, [&](Utterance u, bool isLast) {
      heardMs += u.lengthMs();
      last = isLast;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return last; }, 10000)) << i;
    ASSERT_GT(heardMs, 0) << i;
  }
}

// Stop Talking never waits for the sentence being synthesised: a text of an hour's speech,
// cancelled once its first piece is out, frees the speech thread for the next words at once (the
// whole text would hold it for most of a minute), and nothing more of it is handed out.
TEST(AgentSpeechEngine, ACancelCutsTheRunningSynthesisShort) {
  chimewise::testsupport::EnsureQtApp();
  Voice voice;
  voice.name = QStringLiteral("flite:slt");
  QString text;
  for (int i = 0; i < 1500; ++i) text += QStringLiteral("This sentence is one of a great many more. ");
  SpeechEngine engine;
  QObject receiver;
  int pieces = 0;
  const SpeechEngine::Job job =
      engine.synthesize(translateMarkup(text, voice), voice, &receiver, [&](Utterance, bool) { ++pieces; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return pieces > 0; }, 20000));
  engine.cancel(job);
  const int piecesAtCancel = pieces;
  bool next = false;
  engine.synthesize(translateMarkup(QStringLiteral("Next."), voice), voice, &receiver,
                    [&](Utterance, bool last) { next = next || last; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return next; }, 15000)) << "the cancelled text was synthesised to its end first";
  EXPECT_EQ(pieces, piecesAtCancel);
}

// Text that begins in a right-to-left script reads from the balloon's right edge, so a short last
// line stands at the right; text that begins left to right keeps it at the left.
TEST(AgentBalloon, RightToLeftTextStartsAtTheRightEdge) {
  chimewise::testsupport::EnsureQtApp();
  for (const bool rightToLeft : {true, false}) {
    const QString words =
        rightToLeft ? QString::fromUtf8("اجتماع مع أحمد في المكتب") : QStringLiteral("meeting with Anna");
    const QString text =
        words + QChar(QChar::LineSeparator) + (rightToLeft ? QString::fromUtf8("غدا") : QStringLiteral("then"));
    BalloonWindow balloon;
    balloon.begin(text, QRect(400, 400, 100, 100));
    balloon.reveal(text);
    const QImage image = balloon.grab().toImage();
    // The ink of each line: how far left and right it reaches.
    const int lineSpacing = QFontMetrics(balloon.font()).lineSpacing();
    int top = -1;
    QRect lines[2];
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, y);
        if (qAlpha(p) < 200 || qGray(p) > 40) continue;
        if (top < 0) top = y;
        lines[y - top < lineSpacing ? 0 : 1] |= QRect(x, y, 1, 1);
      }
    }
    ASSERT_FALSE(lines[1].isNull()) << rightToLeft;
    if (rightToLeft) {
      EXPECT_NEAR(lines[1].right(), lines[0].right(), 6);
      EXPECT_GT(lines[1].left(), lines[0].left() + 20);
    } else {
      EXPECT_NEAR(lines[1].left(), lines[0].left(), 6);
      EXPECT_LT(lines[1].right(), lines[0].right() - 20);
    }
  }
}

// A long text scrolls to its latest words, also in a script written without spaces.
TEST(AgentBalloon, LongTextWithoutSpacesScrollsToItsLatestWords) {
  chimewise::testsupport::EnsureQtApp();
  const QString text = QString::fromUtf8("会议在三点开始。").repeated(60);
  BalloonWindow balloon;
  balloon.begin(text, QRect(400, 400, 100, 100));
  balloon.reveal(text);
  EXPECT_LT(balloon.shownText().size(), text.size() / 2);
  EXPECT_TRUE(text.endsWith(balloon.shownText()));
}
