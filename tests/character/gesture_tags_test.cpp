#include "character/gesture_tags.h"

#include <gtest/gtest.h>

using namespace chimewise;

TEST(GestureTags, SplitSpeechAroundAnimationsAndPassServiceTagsThrough) {
  const auto say = [](const char* t) { return SpeechStep{SpeechStep::Speak, t}; };
  const auto play = [](const char* t) { return SpeechStep{SpeechStep::Play, t}; };
  const std::pair<const char*, std::vector<SpeechStep>> cases[] = {
      {"Hello \\pl=Wave\\ there", {say("Hello"), play("Wave"), say("there")}},
      {"\\pl=Wave\\Hi", {play("Wave"), say("Hi")}},   // leading tag first
      {"Hi\\ pl=Wave\\", {say("Hi"), play("Wave")}},  // spaced tag
      {"Hi\\   PL=write\\ done", {say("Hi"), play("write"), say("done")}},
      {"\\PL=GestureLeft\\\\pl=GestureRight\\", {play("GestureLeft"), play("GestureRight")}},
      // Damaged markers.
      {"Hello \\pl=", {say("Hello")}},           // bare marker at the end
      {"\\pl=Wave hello", {say("Wave hello")}},  // no closing backslash
      {"\\pl=\\rest", {say("\\rest")}},          // empty name
      {"\\ pl", {say("\\ pl")}},                 // not a marker at all
      {"   ", {}},
      {"", {}},
      {" \\pl= ", {}},
      // The character platform's own tags stay in the speech.
      {"\\spd=160\\Hello \\emp\\there\\Mrk=100\\", {say("\\spd=160\\Hello \\emp\\there\\Mrk=100\\")}},
      {"The time is \\pl=Announce\\ \\map=\"ac-tivity\"=\"activity\"\\",
       {say("The time is"), play("Announce"), say("\\map=\"ac-tivity\"=\"activity\"\\")}},
  };
  for (const auto& [text, steps] : cases) EXPECT_EQ(SplitGestureTags(text), steps) << text;
}
