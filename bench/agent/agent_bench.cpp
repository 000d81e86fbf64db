// Measures the character platform where it matters to a user: the CPU a visible, idle
// character costs, whether a hidden one runs any timer, and how soon speech is heard.
#include "agent/agent_service.h"
#include "agent/audio_output.h"
#include "agent/character.h"
#include "agent/character_file.h"
#include "agent/renderer.h"
#include "agent/speech_engine.h"
#include "agent/timer_clock.h"

#include <QApplication>
#include <QAudioDevice>
#include <QBitmap>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMediaDevices>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <vector>

using namespace agent;

namespace {

QTextStream& out() {
  static QTextStream s(stdout);
  return s;
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

int idle(Character& c, AgentService& service, int seconds) {
  c.moveTo(200, 200);
  c.show();
  wait(3000);
  const double before = cpuSeconds();
  QElapsedTimer t;
  t.start();
  int maxTimers = 0;
  QTimer sample;
  QObject::connect(&sample, &QTimer::timeout, [&] { maxTimers = std::max(maxTimers, service.clock().activeTimers()); });
  sample.start(500);
  // Every 30 s: the CPU of that stretch and what the character was doing at its end.
  double windowStart = before;
  QTimer window;
  QObject::connect(&window, &QTimer::timeout, [&] {
    const double now = cpuSeconds();
    out() << "  " << t.elapsed() / 1000 << " s: " << 100.0 * (now - windowStart) / 30.0 << " % over the last 30 s ("
          << (c.currentAnimation().isEmpty() ? QStringLiteral("resting") : c.currentAnimation()) << ")\n";
    out().flush();
    windowStart = now;
  });
  window.start(30000);
  wait(seconds * 1000);
  sample.stop();
  window.stop();
  const double used = cpuSeconds() - before;
  out() << "visible idle: " << used << " s CPU in " << t.elapsed() / 1000.0
        << " s = " << 100.0 * used / (t.elapsed() / 1000.0) << " % of one core; character timers armed at most "
        << maxTimers << " at once\n";
  c.hide();
  wait(1500);
  const double hiddenBefore = cpuSeconds();
  t.restart();
  int armed = 0;
  QObject::connect(&sample, &QTimer::timeout, [&] { armed = std::max(armed, service.clock().activeTimers()); });
  sample.start(250);
  wait(std::max(5, seconds / 4) * 1000);
  const double hiddenUsed = cpuSeconds() - hiddenBefore;
  out() << "hidden: " << 100.0 * hiddenUsed / (t.elapsed() / 1000.0)
        << " % of one core; character timers armed: " << armed << "\n";
  out().flush();
  return 0;
}

int latency(Character& c, int rounds) {
  c.moveTo(200, 200);
  c.show();
  wait(1500);
  QString memo;
  for (int i = 0; i < 40; ++i)
    memo += QStringLiteral("Line %1 of a long clipboard text that the character reads aloud to the user. ").arg(i);
  const QStringList sentences = {
      QStringLiteral("Your meeting with the staff starts in ten minutes."),
      QStringLiteral("Good afternoon! The time is 3:05 pm \\Mrk=100\\"),
      QStringLiteral("Remember to call the dentist about \\emp\\ Thursday."),
      memo,  // about four minutes of speech
  };
  std::vector<double> toStart, longStart;
  for (int i = 0; i < rounds; ++i) {
    QElapsedTimer t;
    bool started = false;
    double startedAt = 0;
    auto conn = QObject::connect(&c, &Character::speechStarted, [&](RequestId) {
      started = true;
      startedAt = double(t.nsecsElapsed()) / 1e6;
    });
    t.start();
    c.speak(sentences[i % sentences.size()]);
    QEventLoop loop;
    QTimer poll;
    // The device's clock moves once it has taken the first samples; look every millisecond.
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (started) loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(conn);
    if (started) (i % sentences.size() == 3 ? longStart : toStart).push_back(startedAt);
    c.stopAll();
    wait(200);
  }
  if (toStart.empty()) {
    out() << "speech never started\n";
    return 1;
  }
  // The first words after the character appeared: the synthesiser was got ready while it did.
  out() << "the first sentence after show(): " << toStart.front() << " ms\n";
  std::sort(toStart.begin(), toStart.end());
  out() << "speak() to first sample handed to the audio output, " << toStart.size() << " sentences: median "
        << toStart[toStart.size() / 2] << " ms, max " << toStart.back() << " ms\n";
  std::sort(longStart.begin(), longStart.end());
  if (!longStart.empty())
    out() << "the same for a text of " << memo.size() << " characters (" << longStart.size() << " rounds): median "
          << longStart[longStart.size() / 2] << " ms, max " << longStart.back() << " ms\n";
  out().flush();
  return 0;
}

// The sound device alone: how long until QAudioSink has taken the first samples.
int device(int rounds) {
  const Voice voice;
  SpeechEngine engine;
  const Utterance u =
      engine.synthesizeNow(translateMarkup(QStringLiteral("Testing the sound device, one, two, three."), voice), voice);
  out() << "default output: " << QMediaDevices::defaultAudioOutput().description() << "\n";
  std::vector<double> toPlay, toMoving;
  SystemTimerClock clock;
  DeviceAudioOutput output(clock);
  for (int i = 0; i < rounds; ++i) {
    QElapsedTimer t;
    t.start();
    if (!output.play(u.pcm, u.sampleRate)) {
      out() << "the device refused to play\n";
      return 1;
    }
    toPlay.push_back(double(t.nsecsElapsed()) / 1e6);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (output.playedMs() > 0) loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
    toMoving.push_back(double(t.nsecsElapsed()) / 1e6);
    if (qEnvironmentVariableIsSet("AGENT_BENCH_VERBOSE")) out() << "round " << i << ": " << toMoving.back() << " ms\n";
    wait(i + 1 == rounds ? int(u.lengthMs()) + 300 : 300);
    output.stop();
  }
  std::sort(toPlay.begin(), toPlay.end());
  std::sort(toMoving.begin(), toMoving.end());
  out() << "play() returns after median " << toPlay[toPlay.size() / 2] << " ms (max " << toPlay.back()
        << "); the device's clock moves after median " << toMoving[toMoving.size() / 2] << " ms (max "
        << toMoving.back() << ")\n";
  out().flush();
  return 0;
}

// What one frame costs: drawing the character, and cutting the window's shape from it.
int frameCost(const QString& path) {
  const LoadResult r = loadCharacterFile(path);
  if (!r) {
    out() << r.error() << "\n";
    return 1;
  }
  const CharacterDefinition& c = *r.value();
  const int n = 400;
  QElapsedTimer t;
  t.start();
  QImage img;
  for (int i = 0; i < n; ++i) img = renderCharacter(c, c.rest, QSize(c.width, c.height));
  const double render = double(t.nsecsElapsed()) / 1e6 / n;
  t.restart();
  for (int i = 0; i < n; ++i) {
    const QBitmap mask = QBitmap::fromImage(img.createAlphaMask());
    Q_UNUSED(mask)
  }
  const double mask = double(t.nsecsElapsed()) / 1e6 / n;
  out() << "one frame at " << c.width << "x" << c.height << ": drawing " << render << " ms, shape mask " << mask
        << " ms\n";
  out().flush();
  return 0;
}

int synthesis() {
  const Voice voice;
  const QString long_ = QStringLiteral(
      "Reminder. Have lunch with staff at 11:30 am. Bring the quarterly report and the notes from "
      "last week's meeting, and ask Sam about the budget for the new office. ");
  SpeechEngine engine;
  for (const QString& text : {QStringLiteral("Hello."), long_, long_ + long_ + long_ + long_}) {
    const SpeechMarkup m = translateMarkup(text, voice);
    const Utterance u = engine.synthesizeNow(m, voice);
    out() << text.size() << " characters: " << u.lengthMs() << " ms of speech synthesised in " << u.synthesisUs / 1000.0
          << " ms\n";
  }
  out().flush();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.size() >= 1 && args[0] == QLatin1String("synthesis")) return synthesis();
  if (args.size() >= 2 && args[0] == QLatin1String("frame")) return frameCost(args[1]);
  if (args.size() >= 1 && args[0] == QLatin1String("device")) return device(args.size() > 1 ? args[1].toInt() : 10);
  if (args.size() < 2) {
    QTextStream(stderr)
        << "usage: agent_bench idle CHARFILE [SECONDS] | latency CHARFILE [ROUNDS] | device [ROUNDS] | synthesis\n";
    return 2;
  }
  // The bench, like the program, hears the device unless CHIMEWISE_AUDIO=silent.
  const bool silent = qEnvironmentVariable("CHIMEWISE_AUDIO") == QLatin1String("silent");
  AgentOptions options;
  options.audio = silent ? AudioChoice::Silent : AudioChoice::Auto;
  AgentService service(options);
  const Result<Character*> loaded = service.load(QStringLiteral("CharacterID"), args[1]);
  if (!loaded) {
    QTextStream(stderr) << loaded.error() << "\n";
    return 1;
  }
  Character* c = loaded.value();
  const bool device = !silent && !QMediaDevices::audioOutputs().isEmpty();
  out() << "platform " << QGuiApplication::platformName() << ", audio "
        << (device ? QStringLiteral("device ") + QMediaDevices::defaultAudioOutput().description()
                   : QStringLiteral("silent"))
        << "\n";
  if (args[0] == QLatin1String("idle")) return idle(*c, service, args.size() > 2 ? args[2].toInt() : 60);
  if (args[0] == QLatin1String("latency")) return latency(*c, args.size() > 2 ? args[2].toInt() : 20);
  return 2;
}
