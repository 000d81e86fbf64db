#pragma once
// Reading WAV files for reminder sounds: RIFF PCM, 8 or 16 bits, mono or stereo, any rate.

#include <QByteArray>
#include <QString>
#include <optional>

namespace chimewise {

struct WaveClip {
  QByteArray pcm;  // 16-bit little-endian mono
  int sampleRate = 0;
  qint64 durationMs() const { return sampleRate > 0 ? pcm.size() / 2 * 1000 / sampleRate : 0; }
};

// The clip, or nullopt with *error saying why (missing, not a WAV, a format we do not play).
std::optional<WaveClip> ReadWaveFile(const QString& path, QString* error = nullptr);
std::optional<WaveClip> ParseWave(const QByteArray& bytes, QString* error = nullptr);

}  // namespace chimewise
