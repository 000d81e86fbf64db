#include "character/transcript_speaker.h"

#include "character/character_tables.h"
#include "character/gesture_tags.h"
#include "core/clock.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace chimewise {

void TranscriptSpeaker::PlaySoundEffect(int index) {
  if (ReminderSoundAt(index)) lines << QStringLiteral("Sound: %1").arg(index);
}

void TranscriptSpeaker::SayText(const QString& text) {
  for (const SpeechStep& s : SplitGestureTags(text)) {
    if (s.kind == SpeechStep::Play)
      play(s.text);
    else
      speak(s.text);
  }
}

void TranscriptSpeaker::speak(const QString& text) { lines << QStringLiteral("Speak: ") + text; }
void TranscriptSpeaker::play(const QString& animation) { lines << QStringLiteral("Play: ") + animation; }
void TranscriptSpeaker::show() {
  m_visible = true;
  if (showAndHide) lines << QStringLiteral("Show");
}
void TranscriptSpeaker::hide() {
  m_visible = false;
  if (showAndHide) lines << QStringLiteral("Hide");
}

TimedTranscriptSpeaker::TimedTranscriptSpeaker(const Clock& clock, int wordsPerMinute)
    : m_clock(clock), m_wordsPerMinute(std::max(1, wordsPerMinute)) {}

void TimedTranscriptSpeaker::PlaySoundEffect(int index) {
  if (const auto sound = ReminderSoundAt(index))
    add(QStringLiteral("Sound: %1").arg(index), std::llround(sound->pauseSeconds * 1000.0));
}

void TimedTranscriptSpeaker::SayText(const QString& text) {
  for (const SpeechStep& s : SplitGestureTags(text)) {
    if (s.kind == SpeechStep::Play)
      play(s.text);
    else
      speak(s.text);
  }
}

void TimedTranscriptSpeaker::speak(const QString& text) {
  const qint64 words = std::max<qint64>(1, text.split(u' ', Qt::SkipEmptyParts).size());
  add(QStringLiteral("Speak: ") + text, words * 60000 / m_wordsPerMinute);
}

void TimedTranscriptSpeaker::play(const QString& animation) { add(QStringLiteral("Play: ") + animation, 1000); }

void TimedTranscriptSpeaker::add(const QString& line, qint64 ms) {
  const QDateTime now = m_clock.now();
  playOut(now);  // what has begun by now stays ahead of anything, first in line or not
  Request r{line, ms, m_first, now, m_telling};
  if (m_telling) ++m_tellings[m_telling].open;
  if (m_first)
    m_queue.insert(std::find_if(m_queue.begin(), m_queue.end(), [](const Request& q) { return !q.first; }), r);
  else
    m_queue.push_back(r);
  playOut(now);
}

void TimedTranscriptSpeaker::playOut(const QDateTime& now) {
  while (!m_queue.empty()) {
    // The next request starts when the one under way ends, or when it was asked for if idle.
    const QDateTime start = m_busyUntil && *m_busyUntil > m_queue.front().asked ? *m_busyUntil : m_queue.front().asked;
    if (start > now) return;
    const Request r = m_queue.front();
    m_queue.pop_front();
    m_heard.push_back({start, r.line});
    m_busyUntil = start.addMSecs(r.ms);
    m_underWay = r.telling;
    if (const auto t = m_tellings.find(r.telling); t != m_tellings.end()) {
      --t->second.open;
      t->second.end = *m_busyUntil;
    }
  }
}

bool TimedTranscriptSpeaker::EndTelling(std::function<void(Hearing)> done) {
  const auto t = m_tellings.find(std::exchange(m_telling, 0));
  if (t == m_tellings.end()) return false;
  t->second.done = std::move(done);
  return true;
}

void TimedTranscriptSpeaker::settle() {
  const QDateTime now = m_clock.now();
  playOut(now);
  for (auto t = m_tellings.begin(); t != m_tellings.end();) {
    if (!t->second.done || t->second.open > 0 || (t->second.end.isValid() && t->second.end > now)) {
      ++t;
      continue;
    }
    const Telling told = std::move(t->second);
    t = m_tellings.erase(t);
    told.done(told.outcome);
  }
}

void TimedTranscriptSpeaker::stop(Hearing outcome) {
  const QDateTime now = m_clock.now();
  playOut(now);
  const auto drop = [&](qint64 telling) {
    if (const auto t = m_tellings.find(telling); t != m_tellings.end()) {
      t->second.outcome = outcome;
      t->second.end = now;
    }
  };
  if (m_busyUntil && *m_busyUntil > now) {
    drop(m_underWay);
    m_busyUntil = now;
  }
  for (const Request& r : m_queue) {
    drop(r.telling);
    if (const auto t = m_tellings.find(r.telling); t != m_tellings.end()) --t->second.open;
  }
  m_queue.clear();
}

const std::vector<TimedTranscriptSpeaker::Heard>& TimedTranscriptSpeaker::heard() {
  playOut(m_clock.now());
  return m_heard;
}

int TimedTranscriptSpeaker::waiting() {
  playOut(m_clock.now());
  return static_cast<int>(m_queue.size());
}

}  // namespace chimewise
