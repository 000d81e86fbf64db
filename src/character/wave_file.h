#pragma once
// Reading WAV files for reminder sounds: RIFF PCM, 8 or 16 bits, mono or stereo, any rate.

#include "core/problem.h"

#include <QByteArray>
#include <QString>

namespace chimewise {

struct WaveClip {
  QByteArray pcm;  // 16-bit little-endian mono
  int sampleRate = 0;
  qint64 durationMs() const { return sampleRate > 0 ? pcm.size() / 2 * 1000 / sampleRate : 0; }
};

// Reads a clip into *clip, or says why it cannot be played (missing, not a regular file, too
// large, not a WAV, a format we do not play).
Problem ReadWaveFile(const QString& path, WaveClip* clip);
// The same for a file's bytes; `name` names it in the problem.
Problem ParseWave(const QByteArray& bytes, WaveClip* clip, const QString& name = QStringLiteral("the sound"));

}  // namespace chimewise
