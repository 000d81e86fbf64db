#include "character/character_tables.h"

#include <cmath>

namespace chimewise {

namespace {
struct SizeRow {
  const char* name;
  double height;
  double width;
};
constexpr std::array<SizeRow, 7> kSizes{{{"Petite", 0.25, 0.25},
                                         {"Small", 0.5, 0.5},
                                         {"Average", 1, 1},
                                         {"Husky", 1.4, 1.25},
                                         {"Portly", 1.2, 1.4},
                                         {"Skinny", 1.4, 1},
                                         {"Gigantic", 2, 2}}};

int roundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }
}  // namespace

QSize ScaledCharacterSize(int index, int originalWidth, int originalHeight) {
  if (index < 0 || index >= static_cast<int>(kSizes.size())) return {originalWidth, originalHeight};
  const SizeRow& r = kSizes[static_cast<size_t>(index)];
  return {roundHalfEven(originalWidth * r.width), roundHalfEven(originalHeight * r.height)};
}

// Every caption's access key is its own in the menu: "Tell a Joke or Quote" takes "a" (as "Q" is
// Quit's), "Read Clipboard" takes "e" (as "l" is Listen's), "Read Mail" takes "M" and "Update Me"
// "d" (as "u" is Turn Snoring's), "Add Reminder" "n", "Quick Add" "i" and "About" "b", as in the tray menu, so each
// letter chooses its entry at once instead of cycling between two.
const std::array<CharacterCommand, 21>& CharacterCommands() {
  static const char* const sep = "__________________________";
  static const std::array<CharacterCommand, 21> commands{{
      {"NoTalk", "Stop Tal&king", "(Stop | Shut up) [Talking]", true, true},
      {"Listen", "&Listen", nullptr, true, true},
      {"FileSep1", sep, "", false, true},
      {"LoadJoke", "&Jesterbox && Quotes", "Load Jesterbox", true, true},
      {"Joke", "Tell &a Joke or Quote", "[please] Tell a Joke [please]", true, true},
      {"Create", "&Create Mailcaster", "Create Email", true, true},
      {"Add", "Add Remi&nder", "Add [a] Reminder [Please]", true, true},
      {"QuickAdd", "Qu&ick Add", "Quick Add [Please]", true, true},
      {"View", "&Reminder Viewer", "Reminder Viewer [Please]", true, true},
      {"Time", "Say &Time", "[Please] (Say | What is ) [the] Time [Please]", true, true},
      {"Clipboard", "R&ead Clipboard", "(Read | Say) Clipboard", true, true},
      {"ReadMail", "Read &Mail", "Read [my] Mail", true, true},
      {"FileSep2", sep, "", false, true},
      {"Options", "&Options", "[Show] Options", true, true},
      {"NoSound", "T&urn Snoring On/Off", "[Stop] Snoring (Off | On)", true, true},
      {"Optimize", "O&ptimize Reminders", "Optimize [Reminders]", true, true},
      {"Update", "Up&date Me", "Update Me", true, true},
      {"About", "A&bout Olm Chimewise", "About [Olm] [Chimewise]", true, true},
      {"FileSep3", sep, "", false, true},
      {"GoAway", "&Go Away", "Go Away", true, true},
      {"Quit", "&Quit Olm Chimewise", "Quit [Olm] [Chimewise]", true, true},
  }};
  return commands;
}

const std::array<ReminderSound, 9>& ReminderSounds() {
  static const std::array<ReminderSound, 9> sounds{{{"None", nullptr, 0},
                                                    {"Koo-Koo", "koko.wav", 1.5},
                                                    {"Bell", "ring.wav", 1.5},
                                                    {"Horn", "horn.wav", 2},
                                                    {"Train", "train.wav", 2},
                                                    {"Fog Horn", "foghorn.wav", 3},
                                                    {"Uh-Oh", "ahoh.wav", 1.5},
                                                    {"Clap", "clap.wav", 3.5},
                                                    {"Explode", "explode.wav", 3}}};
  return sounds;
}

std::optional<ReminderSound> ReminderSoundAt(int index) {
  if (index <= 0 || index >= static_cast<int>(ReminderSounds().size())) return std::nullopt;
  return ReminderSounds()[static_cast<size_t>(index)];
}

}  // namespace chimewise
