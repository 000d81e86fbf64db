#pragma once
// The fixed tables of the character: its sizes, its command menu and the reminder sounds.

#include <QSize>
#include <QString>
#include <array>
#include <optional>

namespace chimewise {

// Character sizes 0-6 ("Petite" ... "Gigantic") scale the original size; any other index gives
// the original size. Pixels are rounded to the nearest whole number, halves to even.
QSize ScaledCharacterSize(int sizeIndex, int originalWidth, int originalHeight);

struct CharacterCommand {
  const char* name;
  const char* caption;
  const char* voice;  // nullptr: no voice entry
  bool enabled;
  bool visible;
};

// The command menu, in the order it is registered.
const std::array<CharacterCommand, 21>& CharacterCommands();

// The program above, asked which commands of the menu it can carry out.
class CharacterCommandsPort {
 public:
  virtual ~CharacterCommandsPort() = default;
  // Whether the command of this registered name can be carried out; one that cannot is registered
  // disabled.
  virtual bool CommandAvailable(const QString& name) const = 0;
};

struct ReminderSound {
  const char* name;      // as the sound list shows it
  const char* fileName;  // in the sound folder; nullptr for "None"
  double pauseSeconds;   // how long the announcement waits after starting it
};

// Sound indexes 0 ("None") to 8 ("Explode").
const std::array<ReminderSound, 9>& ReminderSounds();
// The sound of an index, or nullopt for 0, negative and out-of-range indexes.
std::optional<ReminderSound> ReminderSoundAt(int index);

}  // namespace chimewise
