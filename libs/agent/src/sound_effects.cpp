#include "sound_effects.h"

#include <QtMath>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace agent {

namespace {
double envelopeAt(const std::vector<std::pair<double, double>>& env, double t) {
  if (env.empty()) return 1;
  if (t <= env.front().first) return env.front().second;
  for (size_t i = 1; i < env.size(); ++i) {
    if (t <= env[i].first) {
      const double span = env[i].first - env[i - 1].first;
      const double f = span > 0 ? (t - env[i - 1].first) / span : 1;
      return env[i - 1].second + f * (env[i].second - env[i - 1].second);
    }
  }
  return env.back().second;
}
}  // namespace

QByteArray synthesizeSound(int durationMs, int sampleRate, const std::vector<SoundLayer>& layers) {
  const int count = std::max(0, int(qint64(durationMs) * sampleRate / 1000));
  std::vector<double> mix(size_t(count), 0.0);
  uint32_t seed = 0x2545F491u;
  for (const SoundLayer& layer : layers) {
    double phase = 0;
    double filtered = 0;
    const double alpha = layer.lowpassHz > 0 ? 1.0 - std::exp(-2.0 * M_PI * layer.lowpassHz / sampleRate) : 1.0;
    for (int i = 0; i < count; ++i) {
      const double t = double(i) / std::max(1, count - 1);
      const double freq = layer.freqFrom + (layer.freqTo - layer.freqFrom) * t;
      phase += freq / sampleRate;
      phase -= std::floor(phase);
      double s = 0;
      switch (layer.wave) {
        case SoundLayer::Noise:
          seed ^= seed << 13;
          seed ^= seed >> 17;
          seed ^= seed << 5;
          s = (seed / 4294967295.0) * 2 - 1;
          break;
        case SoundLayer::Sine: s = std::sin(2 * M_PI * phase); break;
        case SoundLayer::Square: s = phase < 0.5 ? 0.8 : -0.8; break;
        case SoundLayer::Saw: s = 2 * phase - 1; break;
      }
      filtered += alpha * (s - filtered);
      double level = envelopeAt(layer.envelope, t) * layer.gain;
      if (layer.tremoloHz > 0)
        level *= 1 - layer.tremoloDepth * 0.5 * (1 + std::sin(2 * M_PI * layer.tremoloHz * i / sampleRate));
      mix[size_t(i)] += filtered * level;
    }
  }
  QByteArray pcm(count * 2, Qt::Uninitialized);
  auto* out = reinterpret_cast<int16_t*>(pcm.data());
  for (int i = 0; i < count; ++i) out[i] = int16_t(std::clamp(mix[size_t(i)], -1.0, 1.0) * 32000);
  return pcm;
}

}  // namespace agent
