// espeak-ng's voices, in the module the speech engine loads when an espeak-ng voice first speaks.

#include "espeak_voice.h"

#include <espeak-ng/speak_lib.h>
#include <modules/module.h>

#include <QElapsedTimer>

#include <algorithm>
#include <limits>
#include <mutex>

namespace agent::espeakvoice {

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

// espeak-ng keeps its state process-wide: one caller at a time. It is set up once, when first
// used, for the rest of the process.
std::mutex espeakMutex;
bool g_espeakTried = false;  // guarded by espeakMutex
int g_espeakRate = 0;        // guarded by espeakMutex

// Called with espeakMutex held. The rate, or 0 when espeak-ng cannot be used.
int ensureEspeak() {
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

}  // namespace

Utterance synthesize(const SpeechMarkup& markup, const QString& voiceName, int rate, int pitch,
                     const std::atomic<bool>* cancelled, const std::function<void(Utterance)>& chunks) {
  std::lock_guard lock(espeakMutex);
  QElapsedTimer timer;
  timer.start();
  const int sampleRate = ensureEspeak();
  Utterance u;
  if (sampleRate <= 0) {
    u.error = QStringLiteral("espeak-ng could not be initialised (is espeak-ng-data installed?)");
    return u;
  }
  u.sampleRate = sampleRate;
  const QByteArray voiceName8 = voiceName.toUtf8();
  QString heard = QStringLiteral("espeak:") + voiceName;
  if (espeak_SetVoiceByName(voiceName8.constData()) != EE_OK) {
    if (espeak_SetVoiceByName("en-us") != EE_OK) {
      u.error = QStringLiteral("no espeak-ng voice named %1 or en-us").arg(voiceName);
      return u;
    }
    heard = QStringLiteral("espeak:en-us");
  }
  if (markup.ssml.isEmpty()) return u;  // nothing to say: the voice is ready
  espeak_SetParameter(espeakRATE, std::clamp(rate, 80, 450), 0);
  espeak_SetParameter(espeakPITCH, std::clamp(pitch, 0, 100), 0);

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
  rest.voices = QStringList{heard};
  rest.synthesisUs = timer.nsecsElapsed() / 1000;
  const qint64 total = qint64(ctx.samples.size()) * 1000 / sampleRate;
  converter.finish(total, rest.events);
  for (SpeechEvent& e : rest.events) e.ms = std::min(e.ms, total);
  std::stable_sort(rest.events.begin(), rest.events.end(),
                   [](const SpeechEvent& a, const SpeechEvent& b) { return a.ms < b.ms; });
  return rest;
}

}  // namespace agent::espeakvoice

MODULES_ENTRY_POINT const agent::espeakvoice::Api* agent_espeak_api() {
  using namespace agent::espeakvoice;
  static const Api api{kVersion, &synthesize};
  return &api;
}
