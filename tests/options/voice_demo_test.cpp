// The queues of the voice test and the character demo.
#include "options/voice_demo.h"

#include "support/qt_print.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {
// A Friday afternoon.
const QDateTime kAt(QDate(2026, 12, 4), QTime(15, 5, 30));

QStringList Lines(const std::vector<VoiceStep>& steps) {
  QStringList out;
  for (const VoiceStep& s : steps) {
    switch (s.kind) {
      case VoiceStep::StopAll: out << "StopAll"; break;
      case VoiceStep::Play: out << "Play: " + s.text; break;
      case VoiceStep::Speak: out << "Speak: " + s.text; break;
      case VoiceStep::SayText: out << "SayText: " + s.text; break;
      case VoiceStep::MoveTo: out << QStringLiteral("MoveTo: %1,%2").arg(s.at.x()).arg(s.at.y()); break;
      case VoiceStep::Show: out << "Show"; break;
    }
  }
  return out;
}
}  // namespace

TEST(VoiceTest, AnnouncesFromTheChoicesInTheRunningTimeFormat) {
  VoiceTestChoices all{" Announce ", "The time is", true, true, true};
  EXPECT_EQ(Lines(VoiceTestSteps(all, kAt, "h:mm am/pm")),
            QStringList({"StopAll", "Play: Announce", "Speak: Good Afternoon", "SayText: The time is 3:05 pm",
                         "Speak:  on Friday", "Speak: December 4th, 2026"}));
  // The 24-hour format, no gesture chosen, nothing included.
  VoiceTestChoices bare{"", "Wake up sleepy head its", false, false, false};
  EXPECT_EQ(Lines(VoiceTestSteps(bare, kAt, "h:mm")),
            QStringList({"StopAll", "SayText: Wake up sleepy head its 15:05"}));
  // "None" goes to the character as a name: one that lacks such an animation skips it.
  VoiceTestChoices none{"None", "The Time is", true, false, false};
  EXPECT_EQ(Lines(VoiceTestSteps(none, QDateTime(kAt.date(), QTime(11, 59)), "h:mm")),
            QStringList({"StopAll", "Play: None", "Speak: Good Morning", "SayText: The Time is 11:59"}));
}

TEST(CharacterDemo, FourteenStepsEndingAtTheDialogsFoot) {
  const QStringList lines = Lines(DemoSteps("Hoot", QPoint(307, 460)));
  EXPECT_EQ(lines, QStringList({
                       "Speak: Hi, this is what my voice sounds like. Do you like it?",
                       "Speak: Here are a few of \\emp\\my movements.",
                       "Play: Acknowledge",
                       "Speak: I Acknowlege humans, are a \\emp\\superior race",
                       "Play: Announce",
                       "Speak: Announcing \\emp\\me. The \\emp\\greatest character of \\emp\\all.",
                       "Play: Confused",
                       "Speak: Sometimes I get confused",
                       "Speak: Here is one of my favorites.",
                       "Speak: \\map=\"ab ra ca dab ra\"=\"Abra-Ka-Dabra\"\\",
                       "Play: DoMagic2",
                       "Play: Explain",
                       "Speak: If you don't understand I can explain myself.",
                       "Play: GetAttention",
                       "Speak: May I please have your attention?",
                       "Play: Greet",
                       "Speak: Hello I am Hoot",
                       "Play: Pleased",
                       "Speak: I like it when you are around.",
                       "Play: Sad",
                       "Speak: I get Sad when you put me away.",
                       "Play: Wave",
                       "Speak: I know how to wave",
                       "Play: Write",
                       "Speak: I try to write down everything you say.",
                       "MoveTo: 307,460",
                       "Show",
                   }));
  // A character without a name ends the greeting there.
  EXPECT_TRUE(Lines(DemoSteps("", {})).contains("Speak: Hello I am "));
}
