#include "character/speech_markup.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {
SpeechStep say(const char* t) { return {SpeechStep::Speak, t}; }
SpeechStep play(const char* t) { return {SpeechStep::Play, t}; }
using Steps = std::vector<SpeechStep>;
}  // namespace

TEST(GestureTags, SplitSpeechAroundAnimations) {
  EXPECT_EQ(SplitGestureTags("Hello \\pl=Wave\\ there"), (Steps{say("Hello"), play("Wave"), say("there")}));
  EXPECT_EQ(SplitGestureTags("\\pl=Wave\\Hi"), (Steps{play("Wave"), say("Hi")}));   // leading tag first
  EXPECT_EQ(SplitGestureTags("Hi\\ pl=Wave\\"), (Steps{say("Hi"), play("Wave")}));  // spaced tag
  EXPECT_EQ(SplitGestureTags("Hi\\   PL=write\\ done"), (Steps{say("Hi"), play("write"), say("done")}));
  EXPECT_EQ(SplitGestureTags("\\PL=GestureLeft\\\\pl=GestureRight\\"),
            (Steps{play("GestureLeft"), play("GestureRight")}));
}

TEST(GestureTags, DamagedMarkers) {
  EXPECT_EQ(SplitGestureTags("Hello \\pl="), (Steps{say("Hello")}));           // bare marker at the end
  EXPECT_EQ(SplitGestureTags("\\pl=Wave hello"), (Steps{say("Wave hello")}));  // no closing backslash
  EXPECT_EQ(SplitGestureTags("\\pl=\\rest"), (Steps{say("\\rest")}));          // empty name
  EXPECT_EQ(SplitGestureTags("\\ pl"), (Steps{say("\\ pl")}));                 // not a marker at all
  EXPECT_TRUE(SplitGestureTags("   ").empty());
  EXPECT_TRUE(SplitGestureTags("").empty());
  EXPECT_TRUE(SplitGestureTags(" \\pl= ").empty());
}

TEST(GestureTags, ServiceTagsPassThrough) {
  EXPECT_EQ(SplitGestureTags("\\spd=160\\Hello \\emp\\there\\Mrk=100\\"),
            (Steps{say("\\spd=160\\Hello \\emp\\there\\Mrk=100\\")}));
  EXPECT_EQ(SplitGestureTags("The time is \\pl=Announce\\ \\map=\"ac-tivity\"=\"activity\"\\"),
            (Steps{say("The time is"), play("Announce"), say("\\map=\"ac-tivity\"=\"activity\"\\")}));
}
