#pragma once

#include <QByteArray>

#include <utility>
#include <vector>

namespace agent {

// One voice of a synthesised sound effect.
struct SoundLayer {
  enum Wave { Noise, Sine, Square, Saw } wave = Noise;
  double freqFrom = 100;  // Hz at the start, swept linearly to freqTo
  double freqTo = 100;
  double lowpassHz = 0;  // 0: no filter
  double gain = 0.5;
  double tremoloHz = 0;                             // amplitude flutter, as in a snore's rattle
  double tremoloDepth = 0;                          // 0..1
  std::vector<std::pair<double, double>> envelope;  // (time 0..1, level 0..1), sorted
};

// 16-bit mono PCM of the layers mixed over `durationMs`. Deterministic: the noise is seeded.
QByteArray synthesizeSound(int durationMs, int sampleRate, const std::vector<SoundLayer>& layers);

}  // namespace agent
