#include "agent/SpeechEngine.h"

#include "FliteVoice.h"

#include <espeak-ng/speak_lib.h>

#include <QElapsedTimer>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

namespace agent {

QString mouthShapeName(MouthShape shape) {
  switch (shape) {
    case MouthShape::Closed: return QStringLiteral("closed");
    case MouthShape::Open: return QStringLiteral("open");
    case MouthShape::Wide: return QStringLiteral("wide");
    case MouthShape::Round: return QStringLiteral("round");
    case MouthShape::Teeth: return QStringLiteral("teeth");
  }
  return QStringLiteral("closed");
}

MouthShape mouthShapeForPhoneme(const QString& phoneme) {
  // espeak-ng's phoneme mnemonics: lips together for p b m, rounded for the back vowels
  // and w, spread for the front vowels, wide open for the open vowels, and the teeth
  // showing for the remaining consonants.
  if (phoneme.isEmpty() || phoneme.startsWith(QLatin1Char('_')) || phoneme == QLatin1String(";"))
    return MouthShape::Closed;
  const QChar c = phoneme[0];
  switch (c.toLatin1()) {
    case 'p':
    case 'b':
    case 'm': return MouthShape::Closed;
    case 'o':
    case 'O':
    case 'u':
    case 'U':
    case 'w':
    case '0': return MouthShape::Round;
    case 'i':
    case 'I':
    case 'e':
    case 'E':
    case 'j': return MouthShape::Wide;
    case 'a':
    case 'A':
    case 'V':
    case '@':
    case '3':
    case 'Q': return MouthShape::Open;
    default: return MouthShape::Teeth;
  }
}

namespace {

struct Context {
  std::vector<short> samples;
  std::vector<espeak_EVENT> rawEvents;
  std::vector<QByteArray> markNames;
  std::vector<QString> phonemes;
  const std::atomic<bool>* cancelled = nullptr;
  // Streaming: called from inside the synthesis whenever enough new audio has been made.
  std::function<void()> flush;
  size_t flushAt = 0;  // sample count that triggers the next flush
};

Context* g_context = nullptr;

int synthCallback(short* wav, int count, espeak_EVENT* events) {
  Context* ctx = g_context;
  if (!ctx) return 1;
  if (wav && count > 0) ctx->samples.insert(ctx->samples.end(), wav, wav + count);
  for (espeak_EVENT* e = events; e && e->type != espeakEVENT_LIST_TERMINATED; ++e) {
    espeak_EVENT copy = *e;
    if (e->type == espeakEVENT_MARK) {
      ctx->markNames.emplace_back(e->id.name ? e->id.name : "");
      copy.id.number = static_cast<int>(ctx->markNames.size() - 1);
    } else if (e->type == espeakEVENT_PHONEME) {
      ctx->phonemes.push_back(QString::fromUtf8(e->id.string, static_cast<int>(qstrnlen(e->id.string, 8))));
      copy.id.number = static_cast<int>(ctx->phonemes.size() - 1);
    }
    ctx->rawEvents.push_back(copy);
  }
  if (ctx->flush && ctx->samples.size() >= ctx->flushAt) ctx->flush();
  return ctx->cancelled && ctx->cancelled->load() ? 1 : 0;
}

struct Request {
  SpeechEngine::Job id;
  SpeechMarkup markup;
  Voice voice;
  QPointer<QObject> receiver;
  SpeechEngine::ChunkHandler chunk;
  std::shared_ptr<std::atomic<bool>> cancelled;
};

// The synthesisers are process-wide: every engine takes turns under this lock, and espeak-ng
// is set up once, when first used, for the rest of the process.
std::mutex g_synthesisMutex;
bool g_espeakTried = false;  // guarded by g_synthesisMutex
int g_espeakRate = 0;        // guarded by g_synthesisMutex

}  // namespace

struct SpeechEngine::Private {
  // Lives on the thread that created the engine (the user-interface thread). Results are
  // posted to it, and only there is the receiver checked, so a receiver being destroyed on
  // its own thread never races with the speech thread.
  QObject relay;

  std::mutex queueMutex;
  std::condition_variable wake;
  std::deque<Request> queue;
  std::shared_ptr<std::atomic<bool>> running;  // cancel flag of the job in progress
  Job runningId = 0;
  Job nextId = 1;
  bool quit = false;
  std::thread worker;

  // Called with g_synthesisMutex held. The rate, or 0 when espeak-ng cannot be used.
  static int ensureEspeak() {
    if (g_espeakTried) return g_espeakRate;
    g_espeakTried = true;
    g_espeakRate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 200, nullptr,
                                     espeakINITIALIZE_PHONEME_EVENTS | espeakINITIALIZE_DONT_EXIT);
    if (g_espeakRate > 0)
      espeak_SetSynthCallback(synthCallback);
    else
      g_espeakRate = 0;
    return g_espeakRate;
  }

  // Turns raw espeak-ng events into speech events, piece by piece.
  //
  // espeak-ng 1.51 loses a <mark> that follows the end of a sentence ("Done. <mark/> Next").
  // Every bookmark still has to fire, in order: one that espeak-ng skipped fires when the
  // audio reaches the first word after it, or at the end of the utterance.
  struct Converter {
    const SpeechMarkup& markup;
    MouthShape lastMouth = MouthShape::Closed;
    size_t nextMark = 0;  // first bookmark of the markup not reported yet

    void marksBefore(int ssmlPos, qint64 at, std::vector<SpeechEvent>& out) {
      while (nextMark < markup.bookmarks.size() && markup.bookmarkPositions[nextMark] < ssmlPos)
        out.push_back({SpeechEvent::Bookmark, at, markup.bookmarks[nextMark++]});
    }

    void convert(const Context& ctx, size_t from, size_t to, std::vector<SpeechEvent>& out) {
      for (size_t i = from; i < to; ++i) {
        const espeak_EVENT& e = ctx.rawEvents[i];
        const qint64 at = std::max(0, e.audio_position);
        switch (e.type) {
          case espeakEVENT_WORD: {
            // espeak-ng also reports empty words where prosody changes; they show nothing.
            if (e.length <= 0) break;
            // text_position counts code points of the SSML from 1.
            const int pos = e.text_position - 1;
            marksBefore(pos, at, out);
            auto span = std::find_if(markup.words.begin(), markup.words.end(),
                                     [pos](const WordSpan& w) { return pos >= w.begin && pos < w.end; });
            if (span != markup.words.end()) out.push_back({SpeechEvent::Word, at, span->shownEnd});
            break;
          }
          case espeakEVENT_MARK: {
            bool ok = false;
            const int id = QString::fromUtf8(ctx.markNames[size_t(e.id.number)]).toInt(&ok);
            if (!ok) break;
            // Bookmarks before this one that espeak-ng skipped come first.
            auto it = std::find(markup.bookmarks.begin() + qsizetype(nextMark), markup.bookmarks.end(), id);
            if (it == markup.bookmarks.end()) break;  // already fired from a later word
            marksBefore(markup.bookmarkPositions[size_t(it - markup.bookmarks.begin())] + 1, at, out);
            break;
          }
          case espeakEVENT_PHONEME: {
            const MouthShape m = mouthShapeForPhoneme(ctx.phonemes[size_t(e.id.number)]);
            if (m != lastMouth) out.push_back({SpeechEvent::Mouth, at, int(m)});
            lastMouth = m;
            break;
          }
          case espeakEVENT_END:
          case espeakEVENT_MSG_TERMINATED:
            if (lastMouth != MouthShape::Closed) out.push_back({SpeechEvent::Mouth, at, int(MouthShape::Closed)});
            lastMouth = MouthShape::Closed;
            break;
          default: break;
        }
      }
    }

    void finish(qint64 end, std::vector<SpeechEvent>& out) { marksBefore(std::numeric_limits<int>::max(), end, out); }
  };

  // Synthesises `markup`. With `chunks`, the audio is handed out in pieces while it is being
  // made and the returned utterance holds only what was not handed out yet.
  Utterance run(const SpeechMarkup& markup, const Voice& voice, const std::atomic<bool>* cancelled,
                const std::function<void(Utterance)>& chunks = {}) {
    std::lock_guard lock(g_synthesisMutex);
    const VoiceChoice choice = resolveVoice(voice.name);
    if (choice.synthesizer == Synthesizer::Flite)
      return flitevoice::synthesize(markup, choice.voice, voice.rate, voice.pitch, voice.formants, cancelled, chunks);
    QElapsedTimer timer;
    timer.start();
    const int sampleRate = ensureEspeak();
    Utterance u;
    if (sampleRate <= 0) {
      u.error = QStringLiteral("espeak-ng could not be initialised (is espeak-ng-data installed?)");
      return u;
    }
    u.sampleRate = sampleRate;
    const QByteArray voiceName = choice.voice.toUtf8();
    if (espeak_SetVoiceByName(voiceName.constData()) != EE_OK && espeak_SetVoiceByName("en-us") != EE_OK) {
      u.error = QStringLiteral("no espeak-ng voice named %1 or en-us").arg(choice.voice);
      return u;
    }
    espeak_SetParameter(espeakRATE, std::clamp(voice.rate, 80, 450), 0);
    espeak_SetParameter(espeakPITCH, std::clamp(voice.pitch, 0, 100), 0);

    Context ctx;
    ctx.cancelled = cancelled;
    size_t samplesOut = 0;
    size_t eventsOut = 0;
    Converter converter{markup};
    auto takeChunk = [&] {
      Utterance piece;
      piece.sampleRate = sampleRate;
      piece.pcm = QByteArray(reinterpret_cast<const char*>(ctx.samples.data() + samplesOut),
                             qsizetype((ctx.samples.size() - samplesOut) * sizeof(short)));
      converter.convert(ctx, eventsOut, ctx.rawEvents.size(), piece.events);
      samplesOut = ctx.samples.size();
      eventsOut = ctx.rawEvents.size();
      return piece;
    };
    if (chunks) {
      // A quarter of a second first, to start playing at once; then bigger pieces.
      ctx.flushAt = size_t(sampleRate / 4);
      ctx.flush = [&] {
        chunks(takeChunk());
        ctx.flushAt = ctx.samples.size() + size_t(sampleRate) * 3;
      };
    }
    g_context = &ctx;
    const QByteArray text = markup.ssml.toUtf8();
    const espeak_ERROR err = espeak_Synth(text.constData(), size_t(text.size()) + 1, 0, POS_CHARACTER, 0,
                                          espeakCHARS_UTF8 | espeakSSML, nullptr, nullptr);
    g_context = nullptr;
    if (cancelled && cancelled->load()) {
      u.cancelled = true;
      return u;
    }
    if (err != EE_OK) {
      u.error = QStringLiteral("espeak-ng could not synthesise the text (error %1)").arg(int(err));
      return u;
    }
    Utterance rest = takeChunk();
    rest.synthesisUs = timer.nsecsElapsed() / 1000;
    const qint64 total = qint64(ctx.samples.size()) * 1000 / sampleRate;
    converter.finish(total, rest.events);
    for (SpeechEvent& e : rest.events) e.ms = std::min(e.ms, total);
    std::stable_sort(rest.events.begin(), rest.events.end(),
                     [](const SpeechEvent& a, const SpeechEvent& b) { return a.ms < b.ms; });
    return rest;
  }

  void loop() {
    for (;;) {
      Request r;
      {
        std::unique_lock lock(queueMutex);
        wake.wait(lock, [this] { return quit || !queue.empty(); });
        if (quit) return;
        r = std::move(queue.front());
        queue.pop_front();
        if (r.cancelled->load()) continue;
        running = r.cancelled;
        runningId = r.id;
      }
      auto cancelled = r.cancelled;
      auto handler = std::make_shared<ChunkHandler>(std::move(r.chunk));
      auto post = [&](Utterance piece, bool last) {
        QMetaObject::invokeMethod(
            &relay,
            [cancelled, receiver = r.receiver, handler, piece = std::move(piece), last]() mutable {
              if (receiver && !cancelled->load()) (*handler)(std::move(piece), last);
            },
            Qt::QueuedConnection);
      };
      Utterance u = run(r.markup, r.voice, r.cancelled.get(), [&](Utterance piece) { post(std::move(piece), false); });
      {
        std::lock_guard lock(queueMutex);
        running.reset();
        runningId = 0;
      }
      if (u.cancelled || r.cancelled->load()) continue;
      post(std::move(u), true);
    }
  }
};

SpeechEngine::SpeechEngine() : d(std::make_unique<Private>()) {
  d->worker = std::thread([this] { d->loop(); });
}

SpeechEngine::~SpeechEngine() {
  {
    std::lock_guard lock(d->queueMutex);
    d->quit = true;
    if (d->running) d->running->store(true);
  }
  d->wake.notify_all();
  d->worker.join();
  // espeak-ng, once started, stays for the rest of the process. Its espeak_Terminate() can wait
  // forever: the stop handshake with espeak-ng's own queue thread races with that thread's
  // start, and a test that made and dropped engines one after another hung there. The thread
  // idles (espeak-ng is used synchronously) and ends with the process.
}

SpeechEngine::Job SpeechEngine::synthesize(const SpeechMarkup& markup, const Voice& voice, QObject* receiver,
                                           ChunkHandler chunk) {
  std::lock_guard lock(d->queueMutex);
  const Job id = d->nextId++;
  d->queue.push_back(
      Request{id, markup, voice, receiver, std::move(chunk), std::make_shared<std::atomic<bool>>(false)});
  d->wake.notify_one();
  return id;
}

void SpeechEngine::cancel(Job job) {
  std::lock_guard lock(d->queueMutex);
  if (d->runningId == job && d->running) d->running->store(true);
  for (Request& r : d->queue)
    if (r.id == job) r.cancelled->store(true);
}

Utterance SpeechEngine::synthesizeNow(const SpeechMarkup& markup, const Voice& voice) {
  return d->run(markup, voice, nullptr);
}

}  // namespace agent
