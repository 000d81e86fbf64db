#pragma once

#include "agent/result.h"
#include "agent/speech_engine.h"
#include "agent/speech_markup.h"

#include <QByteArray>
#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <vector>

namespace agent {

// The file name extension of our character files.
inline constexpr char kCharacterFileSuffix[] = ".ochar";

// How much a character file may ask of the loader. A character file can come from anywhere,
// and without bounds a small file could take the program's memory (a frame holds one state
// per part, a sound is synthesised sample by sample), its time or its stack. The characters
// we ship use a tenth or less of each limit (their use is noted beside it); a file at every
// limit at once still loads in a fraction of a second and a few tens of MB. A file over a
// limit is refused with a message that names the limit.
struct CharacterLimits {
  static constexpr qint64 kMaxFileBytes = 2 * 1024 * 1024;  // shipped: 86 KB
  // Also bounds the depth of the part tree, which drawing walks recursively.
  static constexpr int kMaxParts = 500;                 // shipped: 30
  static constexpr int kMaxVariantsPerPart = 100;       // named variants; shipped: 6
  static constexpr int kMaxOutlinePoints = 50'000;      // path elements of all shapes; shipped: 1,135
  static constexpr int kMaxPoses = 1'000;               // shipped: none, the frames set their parts
  static constexpr int kMaxAnimations = 500;            // shipped: 34
  static constexpr int kMaxFramesPerAnimation = 1'000;  // shipped: 9
  // Part states held by the rest pose, the named poses and every key frame: parts × (1 + poses +
  // key frames), 56 bytes each. Shipped: 5,850.
  static constexpr int kMaxPartStates = 200'000;
  static constexpr int kMaxSounds = 64;  // shipped: 1
  // Sounds are synthesised as the file loads into 16-bit PCM at 22,050 Hz (44 KB a second, with
  // a mixing buffer of four times that for the sound at hand); each layer costs a pass over
  // its samples, and each of those looks its level up along the layer's envelope.
  static constexpr int kMaxSoundMs = 60'000;        // all sounds together; shipped: 1.5 s
  static constexpr int kMaxSoundLayerMs = 120'000;  // length × layers, all sounds; shipped: 3 s
  static constexpr int kMaxEnvelopePoints = 64;     // per layer; shipped: 4
  static constexpr int kMaxIdleVariants = 100;      // entries of idle.variants; shipped: 5
};

// One filled and/or stroked outline, in the character's design coordinates.
struct Shape {
  QPainterPath path;
  QColor fill;   // invalid: not filled
  QColor fill2;  // valid: linear gradient from fill at gradientFrom to fill2 at gradientTo
  QPointF gradientFrom;
  QPointF gradientTo;
  QColor stroke;  // invalid: no outline
  double strokeWidth = 0;
};

// A drawable piece of the character. Parts form a tree: a part moves with its parent.
struct Part {
  QString id;
  int parent = -1;
  QPointF pivot;                             // rotation and scaling centre
  double z = 0;                              // drawing order, low first
  std::vector<QString> variantNames;         // [0] is "" (the part's own shapes)
  std::vector<std::vector<Shape>> variants;  // shapes per variant
};

// Where one part is in a pose, relative to its rest position.
struct PartState {
  double rotate = 0;  // degrees, clockwise on screen
  double dx = 0;
  double dy = 0;
  double sx = 1;
  double sy = 1;
  double opacity = 1;
  int variant = 0;
  bool operator==(const PartState&) const = default;
};

using Pose = std::vector<PartState>;  // one entry per part

enum class Ease { Linear, InOut, In, Out };

struct KeyFrame {
  Pose pose;  // reached at the end of the frame (tweened) or held for it
  int durationMs = 100;
  bool tween = true;
  Ease ease = Ease::InOut;
  int sound = -1;  // index into CharacterDefinition::sounds, played as the frame starts
};

struct Animation {
  QString name;
  std::vector<KeyFrame> frames;
  bool loop = false;
  int fps = 0;  // frame rate of this animation's tweens; 0: the character's
  qint64 durationMs() const;
};

struct SoundEffect {
  QString name;
  QByteArray pcm;  // 16-bit mono
  int sampleRate = 22050;
};

struct IdleSettings {
  QStringList variants;  // animations played now and then while nothing is asked
  int minIntervalMs = 5000;
  int maxIntervalMs = 12000;
  QString sleep;  // looping animation after a long quiet while
  int sleepAfterMs = 60000;
};

// A loaded character file. Immutable once loaded; shared by the characters that use it.
struct CharacterDefinition {
  QString path;
  QString name;
  QString description;
  int width = 0;  // original size in pixels
  int height = 0;
  QPointF origin;  // where the design's (0, 0) lies in the character's box
  int fps = 20;    // frame rate of tweened motion
  Voice voice;
  std::vector<Part> parts;
  int mouthPart = -1;
  std::array<int, kMouthShapeCount> mouthVariants{};  // variant of mouthPart per MouthShape
  Pose rest;
  std::vector<Animation> animations;
  std::vector<SoundEffect> sounds;
  IdleSettings idle;
  QStringList warnings;  // faults the loader worked around, e.g. a voice this machine lacks

  // Animation names match without regard to letter case.
  const Animation* findAnimation(const QString& name) const;
  QStringList animationNames() const;
  int findPart(const QString& id) const;
};

// The loaded character, or why it cannot be had: Unreadable (missing, not a regular file) or
// Damaged (no character file, or one at fault or over a limit), with "FILE: where: what is wrong".
using LoadResult = Result<std::shared_ptr<const CharacterDefinition>>;

LoadResult loadCharacterFile(const QString& path);
// Parses file contents; `fileName` only names the file in messages.
LoadResult parseCharacter(const QByteArray& contents, const QString& fileName);

}  // namespace agent
