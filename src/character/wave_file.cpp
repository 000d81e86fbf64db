#include "character/wave_file.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace chimewise {

namespace {
constexpr qint64 kMaxWaveBytes = 64 * 1024 * 1024;
quint32 u32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 u16(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint16>(b.constData() + at); }
}  // namespace

Problem ParseWave(const QByteArray& b, WaveClip* result, const QString& name) {
  auto fail = [&](const char* why) { return Problem{ProblemKind::FileFault, name, QString::fromUtf8(why)}; };
  if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE") return fail("not a WAV file");
  int channels = 0, bits = 0, format = 0;
  quint32 rate = 0;
  QByteArray data;
  for (qsizetype at = 12; at + 8 <= b.size();) {
    const QByteArray id = b.mid(at, 4);
    const quint32 size = u32(b, at + 4);
    const qsizetype body = at + 8;
    if (size > static_cast<quint64>(b.size() - body)) {
      if (id != "data") return fail("a chunk runs past the end of the file");
    }
    const qsizetype avail = std::min<qsizetype>(size, b.size() - body);
    if (id == "fmt ") {
      if (avail < 16) return fail("the format chunk is too short");
      format = u16(b, body);
      channels = u16(b, body + 2);
      rate = u32(b, body + 4);
      bits = u16(b, body + 14);
    } else if (id == "data") {
      data = b.mid(body, avail);  // a data chunk cut short still plays what is there
    }
    at = body + avail + (avail & 1);
  }
  if (format != 1) return fail("only uncompressed PCM is played");
  if (channels < 1 || channels > 2 || (bits != 8 && bits != 16)) return fail("unsupported channels or sample size");
  if (rate < 4000 || rate > 192000) return fail("unsupported sample rate");
  if (data.isEmpty()) return fail("no sound data");
  WaveClip& clip = *result;
  clip = {};
  clip.sampleRate = static_cast<int>(rate);
  const int frameBytes = channels * bits / 8;
  const qsizetype frames = data.size() / frameBytes;
  clip.pcm.resize(frames * 2);
  auto* out = reinterpret_cast<qint16*>(clip.pcm.data());
  const auto* in = reinterpret_cast<const uchar*>(data.constData());
  for (qsizetype f = 0; f < frames; ++f) {
    int sum = 0;
    for (int c = 0; c < channels; ++c) {
      const uchar* s = in + f * frameBytes + c * (bits / 8);
      sum += bits == 8 ? (static_cast<int>(s[0]) - 128) * 256 : static_cast<qint16>(qFromLittleEndian<quint16>(s));
    }
    out[f] = static_cast<qint16>(sum / channels);
  }
  return {};
}

Problem ReadWaveFile(const QString& path, WaveClip* clip) {
  const auto fail = [&](const QString& why) { return Problem{ProblemKind::FileFault, path, why}; };
  // A pipe or a device under a sound's name would hold the reader: only a regular file is read.
  const QFileInfo info(path);
  if (!info.exists()) return fail(QStringLiteral("no such file"));
  if (!info.isFile()) return fail(QStringLiteral("not a regular file"));
  if (info.size() > kMaxWaveBytes) return fail(QStringLiteral("too large for a reminder sound"));
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return fail(f.errorString());
  return ParseWave(f.read(kMaxWaveBytes + 1), clip, path);
}

}  // namespace chimewise
