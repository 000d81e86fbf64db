#include "character/wave_file.h"

#include <QFile>
#include <QtEndian>

namespace chimewise {

namespace {
quint32 u32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 u16(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint16>(b.constData() + at); }
}  // namespace

std::optional<WaveClip> ParseWave(const QByteArray& b, QString* error) {
  auto fail = [&](const char* why) -> std::optional<WaveClip> {
    if (error) *error = QString::fromUtf8(why);
    return std::nullopt;
  };
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
  WaveClip clip;
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
  return clip;
}

std::optional<WaveClip> ReadWaveFile(const QString& path, QString* error) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = QStringLiteral("cannot open %1").arg(path);
    return std::nullopt;
  }
  if (f.size() > 64 * 1024 * 1024) {
    if (error) *error = QStringLiteral("%1 is too large for a reminder sound").arg(path);
    return std::nullopt;
  }
  return ParseWave(f.readAll(), error);
}

}  // namespace chimewise
