// agentctl: looks inside character files, renders their animations and speaks tagged text,
// for people checking a character and for tests.
#include "../src/AnimationPlayer.h"
#include "agent/AgentService.h"
#include "agent/Character.h"
#include "agent/CharacterFile.h"
#include "agent/Clock.h"
#include "agent/Renderer.h"
#include "agent/SpeechEngine.h"
#include "agent/SpeechMarkup.h"

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
           "  agentctl speak TEXT OUT.wav [--char CHARFILE]\n"
           "  agentctl show CHARFILE [--at X,Y] [--size INDEX] [--play ANIMATION]... [--say TEXT]...\n"
           "size index: 0 Petite (0.25), 1 Small, 2 Average (1), 3 Husky, 4 Portly, 5 Skinny, 6 Gigantic (2)\n";
  err().flush();
  return 2;
}

std::shared_ptr<const CharacterDefinition> load(const QString& path) {
  LoadResult r = loadCharacterFile(path);
  if (!r.character) {
    err() << r.error << "\n";
    err().flush();
  }
  return r.character;
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
        << "voice: " << c->voice.name << " rate " << c->voice.rate << " pitch " << c->voice.pitch << "\n"
        << "animations:\n";
  for (const Animation& a : c->animations)
    out() << "  " << a.name << "\t" << a.frames.size() << " key frames\t" << a.durationMs() << " ms"
          << (a.loop ? "\tloops" : "") << "\n";
  return 0;
}

int renderOne(const CharacterDefinition& c, const Animation& a, const QString& dir, QSize size) {
  ManualClock clock;
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

int speak(const QString& text, const QString& wav, const QString& charFile) {
  Voice voice;
  if (!charFile.isEmpty()) {
    const auto c = load(charFile);
    if (!c) return 1;
    voice = c->voice;
  }
  const SpeechMarkup markup = translateMarkup(text, voice);
  for (const QString& p : markup.problems) err() << "note: " << p << "\n";
  const Utterance u = SpeechEngine::instance().synthesizeNow(markup, voice);
  if (!u.error.isEmpty()) {
    err() << u.error << "\n";
    return 1;
  }
  if (!writeWav(wav, u.pcm, u.sampleRate)) {
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

// Puts the character on the desktop, runs the requests in the order given, hides it and quits.
int show(const QString& path, const QStringList& steps, const QString& at, int sizeIndex) {
  // The tool, like the program, hears the device unless CHIMEWISE_AUDIO=silent.
  AgentOptions options;
  if (qEnvironmentVariable("CHIMEWISE_AUDIO") == QLatin1String("silent")) options.audio = AudioChoice::Silent;
  AgentService service(options);
  QString error;
  Character* c = service.load(QStringLiteral("CharacterID"), path, &error);
  if (!c) {
    err() << error << "\n";
    return 1;
  }
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
    rc = speak(args[0], args[1], charFile);
  } else {
    return usage();
  }
  out().flush();
  err().flush();
  return rc;
}
