#include "options/voice_demo.h"

#include "clock/spoken_time.h"

namespace chimewise {

namespace {
VoiceStep play(const QString& animation) { return {VoiceStep::Play, animation, {}}; }
VoiceStep speak(const QString& text) { return {VoiceStep::Speak, text, {}}; }
}  // namespace

std::vector<VoiceStep> VoiceTestSteps(const VoiceTestChoices& c, const QDateTime& now, const QString& timeFormat) {
  std::vector<VoiceStep> steps;
  steps.push_back({VoiceStep::StopAll, {}, {}});
  if (!c.gesture.isEmpty()) steps.push_back(play(c.gesture.trimmed()));
  if (c.sayTimeOfDay) steps.push_back(speak(QStringLiteral("Good ") + PartOfDayWord(now.time().hour())));
  steps.push_back({VoiceStep::SayText, c.phrase + u' ' + SpokenTime(now, timeFormat), {}});
  if (c.sayDayOfWeek) steps.push_back(speak(QStringLiteral(" on ") + SpokenWeekday(now.date())));
  if (c.sayDate) steps.push_back(speak(SpokenDate(now.date())));
  return steps;
}

std::vector<VoiceStep> DemoSteps(const QString& characterName, const QPoint& foot) {
  return {
      speak(QStringLiteral("Hi, this is what my voice sounds like. Do you like it?")),
      speak(QStringLiteral("Here are a few of \\emp\\my movements.")),
      play(QStringLiteral("Acknowledge")),
      speak(QStringLiteral("I Acknowlege humans, are a \\emp\\superior race")),
      play(QStringLiteral("Announce")),
      speak(QStringLiteral("Announcing \\emp\\me. The \\emp\\greatest character of \\emp\\all.")),
      play(QStringLiteral("Confused")),
      speak(QStringLiteral("Sometimes I get confused")),
      speak(QStringLiteral("Here is one of my favorites.")),
      speak(QStringLiteral("\\map=\"ab ra ca dab ra\"=\"Abra-Ka-Dabra\"\\")),
      play(QStringLiteral("DoMagic2")),
      play(QStringLiteral("Explain")),
      speak(QStringLiteral("If you don't understand I can explain myself.")),
      play(QStringLiteral("GetAttention")),
      speak(QStringLiteral("May I please have your attention?")),
      play(QStringLiteral("Greet")),
      speak(QStringLiteral("Hello I am ") + characterName),
      play(QStringLiteral("Pleased")),
      speak(QStringLiteral("I like it when you are around.")),
      play(QStringLiteral("Sad")),
      speak(QStringLiteral("I get Sad when you put me away.")),
      play(QStringLiteral("Wave")),
      speak(QStringLiteral("I know how to wave")),
      play(QStringLiteral("Write")),
      speak(QStringLiteral("I try to write down everything you say.")),
      {VoiceStep::MoveTo, {}, foot},
      {VoiceStep::Show, {}, {}},
  };
}

}  // namespace chimewise
