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

TEST(CharacterDemo, ShowsOffAndEndsAtTheDialogsFoot) {
  const QStringList lines = Lines(DemoSteps("Hoot", QPoint(307, 460)));
  ASSERT_GE(lines.size(), 3);
  EXPECT_TRUE(lines.startsWith("Speak: Hi, this is what my voice sounds like. Do you like it?"));
  EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({"MoveTo: 307,460", "Show"}));
  EXPECT_TRUE(lines.contains("Speak: Hello I am Hoot"));
  // A character without a name ends the greeting there.
  EXPECT_TRUE(Lines(DemoSteps("", {})).contains("Speak: Hello I am "));
}
