// agentctl: looks inside character files, renders their animations and speaks tagged text,
// for people checking a character and for tests.
#include "../src/animation_player.h"
#include "agent/agent_service.h"
#include "agent/character.h"
#include "agent/character_file.h"
#include "agent/renderer.h"
#include "agent/speech_engine.h"
#include "agent/speech_markup.h"
#include "agent/speech_recognizer.h"
#include "agent/timer_clock.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cmath>
#include <cstdio>

using namespace agent;

namespace {

QTextStream& out() {
  static QTextStream s(stdout);
  return s;
}

QTextStream& err() {
  static QTextStream s(stderr);
  return s;
}

int usage() {
  err() << "usage:\n"
           "  agentctl list CHARFILE\n"
           "  agentctl render CHARFILE ANIMATION|all OUTDIR [--size INDEX]\n"
           "  agentctl speak TEXT OUT.wav [--char CHARFILE] [--voice VOICE] [--wav-rate HZ]\n"
           "  agentctl hear IN.wav GRAMMAR...\n"
           "  agentctl show CHARFILE [--at X,Y] [--size INDEX] [--play ANIMATION]... [--say TEXT]...\n"
           "size index: 0 Petite (0.25), 1 Small, 2 Average (1), 3 Husky, 4 Portly, 5 Skinny, 6 Gigantic (2)\n";
  err() << "voice: flite:slt, flite:rms, flite:awb, espeak:en-us+f3 (any espeak-ng voice)\n"
           "hear: recognises one command in a 16-bit mono WAV; each GRAMMAR is NAME=VOICE-GRAMMAR\n";
  err().flush();
  return 2;
}

std::shared_ptr<const CharacterDefinition> load(const QString& path) {
  LoadResult r = loadCharacterFile(path);
  if (!r) {
    err() << r.error() << "\n";
    err().flush();
  }
  return r.value();
}

// Height and width factors of the seven character sizes; halves round to even.
QSize scaledSize(const CharacterDefinition& c, int index) {
  static const double factors[7][2] = {{0.25, 0.25}, {0.5, 0.5}, {1, 1}, {1.4, 1.25}, {1.2, 1.4}, {1.4, 1}, {2, 2}};
  if (index < 0 || index > 6) return {c.width, c.height};
  return {int(std::nearbyint(c.width * factors[index][1])), int(std::nearbyint(c.height * factors[index][0]))};
}

int list(const QString& path) {
  const auto c = load(path);
  if (!c) return 1;
  out() << "name: " << c->name << "\n"
        << "size: " << c->width << "x" << c->height << "\n"
        << "voice: " << c->voice.name << " rate " << c->voice.rate << " pitch " << c->voice.pitch << " formants "
        << c->voice.formants << "\n";
  for (const QString& w : c->warnings) out() << "warning: " << w << "\n";
  out() << "animations:\n";
  for (const Animation& a : c->animations)
    out() << "  " << a.name << "\t" << a.frames.size() << " key frames\t" << a.durationMs() << " ms"
          << (a.loop ? "\tloops" : "") << "\n";
  return 0;
}

int renderOne(const CharacterDefinition& c, const Animation& a, const QString& dir, QSize size) {
  ManualTimerClock clock;
  AnimationPlayer player(c, clock);
  bool finished = false;
  player.play(
      a, [&] { finished = true; }, false, 1);
  const int step = std::max(1, 1000 / c.fps);
  int index = 0;
  Pose last;
  for (qint64 t = 0; index < 1000; t += step) {
    if (player.pose() != last || index == 0) {
      last = player.pose();
      const QString file =
          QDir(dir).filePath(QStringLiteral("%1_%2.png").arg(a.name).arg(index, 3, 10, QLatin1Char('0')));
      if (!renderCharacter(c, last, size).save(file)) {
        err() << "cannot write " << file << "\n";
        return 1;
      }
      ++index;
    }
    if (finished) break;
    clock.advance(step);
  }
  out() << a.name << ": " << index << " frames\n";
  return 0;
}

int render(const QString& path, const QString& animation, const QString& dir, int sizeIndex) {
  const auto c = load(path);
  if (!c) return 1;
  if (!QDir().mkpath(dir)) {
    err() << "cannot create " << dir << "\n";
    return 1;
  }
  const QSize size = scaledSize(*c, sizeIndex);
  if (animation.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
    for (const Animation& a : c->animations)
      if (renderOne(*c, a, dir, size) != 0) return 1;
    return 0;
  }
  const Animation* a = c->findAnimation(animation);
  if (!a) {
    err() << c->name << " has no animation named \"" << animation << "\"\n";
    return 1;
  }
  return renderOne(*c, *a, dir, size);
}

bool writeWav(const QString& path, const QByteArray& pcm, int rate) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  auto u32 = [&](quint32 v) {
    char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    f.write(b, 4);
  };
  auto u16 = [&](quint16 v) {
    char b[2] = {char(v), char(v >> 8)};
    f.write(b, 2);
  };
  f.write("RIFF");
  u32(quint32(36 + pcm.size()));
  f.write("WAVEfmt ");
  u32(16);
  u16(1);
  u16(1);
  u32(quint32(rate));
  u32(quint32(rate * 2));
  u16(2);
  u16(16);
  f.write("data");
  u32(quint32(pcm.size()));
  f.write(pcm);
  return f.error() == QFile::NoError;
}

QString json(const QJsonObject& o) { return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)); }

int speak(const QString& text, const QString& wav, const QString& charFile, const QString& voiceName, int wavRate) {
  Voice voice;
  if (!charFile.isEmpty()) {
    const auto c = load(charFile);
    if (!c) return 1;
    voice = c->voice;
  }
  if (!voiceName.isEmpty()) voice.name = voiceName;
  const VoiceChoice choice = resolveVoice(voice.name);
  if (!choice.problem.isEmpty()) err() << "note: " << choice.problem << "\n";
  const SpeechMarkup markup = translateMarkup(text, voice);
  for (const QString& p : markup.problems) err() << "note: " << p << "\n";
  SpeechEngine engine;
  const Utterance u = engine.synthesizeNow(markup, voice);
  if (!u.error.isEmpty()) {
    err() << u.error << "\n";
    return 1;
  }
  const int rate = wavRate > 0 ? wavRate : u.sampleRate;
  if (!writeWav(wav, SpeechRecognizer::resample(u.pcm, u.sampleRate, rate), rate)) {
    err() << "cannot write " << wav << "\n";
    return 1;
  }
  int shownSoFar = 0;
  for (const SpeechEvent& e : u.events) {
    QJsonObject o{{QStringLiteral("ms"), e.ms}};
    switch (e.kind) {
      case SpeechEvent::Word:
        o[QStringLiteral("type")] = QStringLiteral("word");
        o[QStringLiteral("text")] = markup.shown.mid(shownSoFar, e.value - shownSoFar).trimmed();
        shownSoFar = std::max(shownSoFar, e.value);
        break;
      case SpeechEvent::Mouth:
        o[QStringLiteral("type")] = QStringLiteral("mouth");
        o[QStringLiteral("shape")] = mouthShapeName(MouthShape(e.value));
        break;
      case SpeechEvent::Bookmark:
        o[QStringLiteral("type")] = QStringLiteral("bookmark");
        o[QStringLiteral("id")] = e.value;
        break;
    }
    out() << json(o) << "\n";
  }
  out() << json({{QStringLiteral("type"), QStringLiteral("end")},
                 {QStringLiteral("ms"), u.lengthMs()},
                 {QStringLiteral("shown"), markup.shown},
                 {QStringLiteral("synthesisMs"), double(u.synthesisUs) / 1000.0}})
        << "\n";
  return 0;
}

// Reads a 16-bit mono WAV file's samples and rate.
bool readWav(const QString& path, QByteArray* pcm, int* rate) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return false;
  const QByteArray data = f.readAll();
  if (data.size() < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE") return false;
  auto u32 = [&](qsizetype at) {
    return quint32(quint8(data[at])) | quint32(quint8(data[at + 1])) << 8 | quint32(quint8(data[at + 2])) << 16 |
           quint32(quint8(data[at + 3])) << 24;
  };
  qsizetype at = 12;
  bool format = false;
  while (at + 8 <= data.size()) {
    const QByteArray id = data.mid(at, 4);
    const qsizetype size = qsizetype(u32(at + 4));
    if (id == "fmt " && size >= 16) {
      const int channels = quint8(data[at + 10]) | quint8(data[at + 11]) << 8;
      const int bits = quint8(data[at + 22]) | quint8(data[at + 23]) << 8;
      if (channels != 1 || bits != 16) return false;
      *rate = int(u32(at + 12));
      format = true;
    } else if (id == "data" && format) {
      *pcm = data.mid(at + 8, size);
      return true;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

// Recognises one command in a recording, as the character would through its microphone.
int hear(const QString& wav, const QStringList& grammars) {
  QByteArray pcm;
  int rate = 0;
  if (!readWav(wav, &pcm, &rate)) {
    err() << "cannot read " << wav << " (16-bit mono WAV expected)\n";
    return 1;
  }
  std::vector<Command> commands;
  for (const QString& g : grammars) {
    const qsizetype eq = g.indexOf(QLatin1Char('='));
    if (eq <= 0) {
      err() << "not NAME=GRAMMAR: " << g << "\n";
      return 2;
    }
    commands.push_back({g.left(eq), g.left(eq), g.mid(eq + 1), true, true});
  }
  SpeechRecognizer recognizer;
  if (!recognizer.setCommands(commands)) {
    err() << recognizer.error() << "\n";
    return 1;
  }
  for (const QString& p : recognizer.problems()) err() << "note: " << p << "\n";
  recognizer.begin();
  recognizer.feed(SpeechRecognizer::resample(pcm, rate, SpeechRecognizer::kSampleRate));
  const QString words = recognizer.end();
  out() << json({{QStringLiteral("words"), words}, {QStringLiteral("command"), recognizer.commandFor(words)}}) << "\n";
  return 0;
}

// Puts the character on the desktop, runs the requests in the order given, hides it and quits.
int show(const QString& path, const QStringList& steps, const QString& at, int sizeIndex) {
  // The tool, like the program, hears the device unless CHIMEWISE_AUDIO=silent.
  AgentOptions options;
  if (qEnvironmentVariable("CHIMEWISE_AUDIO") == QLatin1String("silent")) options.audio = AudioChoice::Silent;
  AgentService service(options);
  const Result<Character*> loaded = service.load(QStringLiteral("CharacterID"), path);
  if (!loaded) {
    err() << loaded.error() << "\n";
    return 1;
  }
  Character* c = loaded.value();
  const QSize size = scaledSize(c->definition(), sizeIndex);
  c->setWidth(size.width());
  c->setHeight(size.height());
  const QStringList xy = at.split(QLatin1Char(','));
  if (xy.size() == 2) c->moveTo(xy[0].toInt(), xy[1].toInt());
  c->show();
  for (const QString& step : steps) {
    if (step.startsWith(QLatin1String("play:")))
      c->play(step.mid(5));
    else
      c->speak(step.mid(4));
  }
  QObject::connect(c, &Character::requestCompleted, [](RequestId, RequestStatus status, const QString& message) {
    if (status == RequestStatus::Failed) err() << message << "\n";
    err().flush();
  });
  QObject::connect(c, &Character::bookmark, [](int id) {
    out() << "bookmark " << id << "\n";
    out().flush();
  });
  const RequestId last = c->hide();
  QObject::connect(c, &Character::requestCompleted, qApp, [last](RequestId id) {
    if (id == last) QCoreApplication::quit();
  });
  return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  // Only "show" needs a display.
  const bool needsDisplay = argc > 1 && qstrcmp(argv[1], "show") == 0;
  if (!needsDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  QStringList steps;
  for (qsizetype i = 0; i + 1 < args.size();) {
    if (args[i] == QLatin1String("--play") || args[i] == QLatin1String("--say")) {
      steps << (args[i] == QLatin1String("--play") ? QStringLiteral("play:") : QStringLiteral("say:")) + args[i + 1];
      args.remove(i, 2);
    } else {
      ++i;
    }
  }
  const QString at = [&] {
    const qsizetype i = args.indexOf(QStringLiteral("--at"));
    if (i < 0 || i + 1 >= args.size()) return QString();
    const QString v = args[i + 1];
    args.remove(i, 2);
    return v;
  }();
  auto option = [&](const QString& name) {
    const qsizetype i = args.indexOf(name);
    if (i < 0 || i + 1 >= args.size()) return QString();
    const QString v = args[i + 1];
    args.remove(i, 2);
    return v;
  };
  const QString sizeText = option(QStringLiteral("--size"));
  const QString charFile = option(QStringLiteral("--char"));
  const QString voiceName = option(QStringLiteral("--voice"));
  const QString wavRateText = option(QStringLiteral("--wav-rate"));
  if (args.isEmpty()) return usage();
  const QString cmd = args.takeFirst();
  int rc = 2;
  if (cmd == QLatin1String("list") && args.size() == 1) {
    rc = list(args[0]);
  } else if (cmd == QLatin1String("render") && args.size() == 3) {
    bool ok = true;
    const int size = sizeText.isEmpty() ? 2 : sizeText.toInt(&ok);
    if (!ok) return usage();
    rc = render(args[0], args[1], args[2], size);
  } else if (cmd == QLatin1String("show") && args.size() == 1) {
    bool ok = true;
    const int size = sizeText.isEmpty() ? 2 : sizeText.toInt(&ok);
    if (!ok) return usage();
    rc = show(args[0], steps, at, size);
  } else if (cmd == QLatin1String("speak") && args.size() == 2) {
    bool ok = true;
    const int wavRate = wavRateText.isEmpty() ? 0 : wavRateText.toInt(&ok);
    if (!ok || wavRate < 0 || (wavRate > 0 && (wavRate < 8000 || wavRate > 48000))) return usage();
    rc = speak(args[0], args[1], charFile, voiceName, wavRate);
  } else if (cmd == QLatin1String("hear") && args.size() >= 2) {
    rc = hear(args[0], args.mid(1));
  } else {
    return usage();
  }
  out().flush();
  err().flush();
  return rc;
}
