#pragma once
// The program's character (fast, silent) with a pinned clock, a main timer that records what it is
// told, and a tour context whose watcher records every step of a tour.

#include "character/character_host.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/program_options.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "support/character_rig.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"
#include "tours/tour_runner.h"

#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <agent/character.h>
#include <agent/timer_clock.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace chimewise::testsupport {

class RecordingTimer final : public MainTimerPort {
 public:
  void SetTimerEnabled(bool on) override {
    running = on;
    calls.push_back(on);
  }
  bool running = true;
  std::vector<bool> calls;
};

inline bool IsLine(TourEvent::Kind k) { return k == TourEvent::Kind::Speak || k == TourEvent::Kind::Say; }
inline bool IsLine(TourStep::Kind k) { return k == TourStep::Kind::Speak || k == TourStep::Kind::Say; }

class TourFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApp();
    host = FastCharacterHost(dir, state, settings, prompter, agentClock, pump);
    // Faster still than the rig's pace: a tour is minutes of speech.
    QObject::disconnect(&pump, nullptr, nullptr, nullptr);
    QObject::connect(&pump, &QTimer::timeout, [this] { agentClock.advance(100); });
    host->LoadCharacter("Hoot.ochar", false);
    ASSERT_NE(host->character(), nullptr);
    host->character()->setLeft(40);
    host->character()->setTop(30);
    context = std::make_unique<TourContext>(TourContext{state, options, settings, *host, clock});
    context->observer = [this](const TourEvent& e) {
      events.push_back(e);
      if (onEvent) onEvent(e);
    };
  }
  void TearDown() override {
    context.reset();
    host.reset();
  }

  // The text of every event of `kind` (of every line, spoken or said, for Speak), in order.
  QStringList texts(TourEvent::Kind kind) const {
    QStringList out;
    for (const TourEvent& e : events)
      if (e.kind == kind || (kind == TourEvent::Kind::Speak && IsLine(e.kind))) out << e.text;
    return out;
  }
  int count(TourEvent::Kind kind) const { return int(texts(kind).size()); }
  // Lets the character finish what it has queued (the move back at the end of a tour).
  void settle() {
    RunEventsUntil([this] { return !host->character() || host->character()->queuedRequests() == 0; }, 20000);
  }
  // A tour returns at once and runs on from the event loop: runs it until it has ended.
  void runToEnd() {
    ASSERT_TRUE(RunEventsUntil([this] { return !context->busy; }, 60000)) << "the tour did not end";
  }
  QPoint characterAt() const { return QPoint(host->character()->left(), host->character()->top()); }

  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  agent::ManualTimerClock agentClock;
  QTimer pump;
  ManualClock clock{QDateTime(QDate(2026, 12, 4), QTime(15, 0))};
  RecordingTimer timer;
  std::unique_ptr<CharacterHost> host;
  std::unique_ptr<TourContext> context;
  std::vector<TourEvent> events;
  std::function<void(const TourEvent&)> onEvent;
};

// The tour ran `script` to its end: every line said in order, each as the step it is (Speak or
// Say; a line made when it is said is only checked to be there), and every control a step names
// found (a step whose control is missing is passed over). `openingMoves`: the runner's own.
inline ::testing::AssertionResult RanAsScripted(const std::vector<TourEvent>& events, const TourScript& script,
                                                int openingMoves = 0) {
  using K = TourStep::Kind;
  using E = TourEvent::Kind;
  std::vector<const TourEvent*> spoken;
  std::map<E, int> happened;
  for (const TourEvent& e : events) {
    if (IsLine(e.kind)) spoken.push_back(&e);
    ++happened[e.kind];
  }
  std::vector<const TourStep*> lines;
  std::map<E, int> asked{{E::Move, openingMoves}};
  const std::map<K, E> found{{K::Beside, E::Move},       {K::BesideAtHeight, E::Move},
                             {K::BesideWindow, E::Move}, {K::LowerRightCorner, E::Move},
                             {K::Tab, E::Tab},           {K::Press, E::Press}};
  for (const TourStep& s : script) {
    if (IsLine(s.kind)) lines.push_back(&s);
    if (found.count(s.kind)) ++asked[found.at(s.kind)];
  }
  for (const auto& [kind, n] : asked)
    if (happened[kind] != n)
      return ::testing::AssertionFailure() << happened[kind] << " events of kind " << int(kind) << " for " << n
                                           << " steps: a control the script names is missing";
  if (spoken.size() != lines.size())
    return ::testing::AssertionFailure() << spoken.size() << " lines spoken, " << lines.size() << " in the script";
  for (size_t i = 0; i < lines.size(); ++i) {
    const bool say = lines[i]->kind == K::Say;
    if ((spoken[i]->kind == E::Say) != say || spoken[i]->text.isEmpty() ||
        (!lines[i]->made && spoken[i]->text != lines[i]->line))
      return ::testing::AssertionFailure() << "line " << i << ": \"" << spoken[i]->text.toStdString()
                                           << "\" where the script has \"" << lines[i]->line.toStdString() << "\"";
  }
  return ::testing::AssertionSuccess();
}

// The character's box at a move lies on the screen and off what it stands beside.
inline ::testing::AssertionResult BesideAndOnScreen(const TourEvent& move) {
  const QRect box(move.at, move.character);
  if (!move.screen.contains(box))
    return ::testing::AssertionFailure() << "off the screen at " << move.at.x() << "," << move.at.y();
  if (!move.target.isNull() && box.intersects(move.target))
    return ::testing::AssertionFailure() << "covers its target at " << move.at.x() << "," << move.at.y();
  return ::testing::AssertionSuccess();
}

}  // namespace chimewise::testsupport
