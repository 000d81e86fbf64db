#include "agent/speech_engine.h"

#include "agent/audio_output.h"
#include "espeak_voice.h"
#include "flite_voice.h"

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

namespace {

struct Request {
  SpeechEngine::Job id;
  SpeechMarkup markup;
  Voice voice;
  QPointer<QObject> receiver;
  SpeechEngine::ChunkHandler chunk;
  std::shared_ptr<std::atomic<bool>> cancelled;
};

// The synthesisers are process-wide: every engine takes turns under this lock.
std::mutex g_synthesisMutex;

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

  // Synthesises `markup`. With `chunks`, the audio is handed out in pieces while it is being
  // made and the returned utterance holds only what was not handed out yet.
  Utterance run(const SpeechMarkup& markup, const Voice& voice, const std::atomic<bool>* cancelled,
                const std::function<void(Utterance)>& chunks = {}) {
    std::lock_guard lock(g_synthesisMutex);
    const bool mixed = std::any_of(markup.items.begin(), markup.items.end(),
                                   [](const SpokenItem& item) { return !item.language.isEmpty(); });
    return mixed ? runMixed(markup, voice, cancelled, chunks) : runOne(markup, voice, cancelled, chunks);
  }

  static Utterance runOne(const SpeechMarkup& markup, const Voice& voice, const std::atomic<bool>* cancelled,
                          const std::function<void(Utterance)>& chunks) {
    const VoiceChoice choice = resolveVoice(voice.name);
    if (choice.synthesizer == Synthesizer::Flite)
      return flitevoice::synthesize(markup, choice.voice, voice.rate, voice.pitch, voice.formants, cancelled, chunks);
    return espeakvoice::synthesize(markup, choice.voice, voice.rate, voice.pitch, cancelled, chunks);
  }

  // Speech in several languages: each part by its own voice, one after the other, as one
  // utterance at the rate of the first part's voice, each part's events moved to where its
  // audio begins.
  static Utterance runMixed(const SpeechMarkup& markup, const Voice& voice, const std::atomic<bool>* cancelled,
                            const std::function<void(Utterance)>& chunks) {
    int rate = 0;
    qint64 samples = 0;  // made so far, at `rate`
    const auto adopt = [&](Utterance piece, qint64 baseMs) {
      if (rate == 0) rate = piece.sampleRate;
      Utterance out;
      out.sampleRate = rate;
      out.pcm = piece.sampleRate == rate ? std::move(piece.pcm) : resamplePcm16(piece.pcm, piece.sampleRate, rate);
      out.events = std::move(piece.events);
      for (SpeechEvent& e : out.events) e.ms += baseMs;
      samples += out.pcm.size() / 2;
      return out;
    };
    const std::vector<SpeechPart> parts = splitByLanguage(markup, voice);
    Utterance whole;
    qint64 synthesisUs = 0;
    for (size_t k = 0; k < parts.size(); ++k) {
      const SpeechPart& part = parts[k];
      const qint64 baseMs = rate > 0 ? samples * 1000 / rate : 0;
      std::function<void(Utterance)> forward;
      if (chunks) forward = [&](Utterance piece) { chunks(adopt(std::move(piece), baseMs)); };
      const Voice partVoice = part.language.isEmpty() ? voice : voiceForLanguage(part.language, voice);
      Utterance u = runOne(part.markup, partVoice, cancelled, forward);
      if (u.cancelled || !u.error.isEmpty()) return u;
      whole.voices += u.voices;
      synthesisUs += u.synthesisUs;
      Utterance rest = adopt(std::move(u), baseMs);
      if (chunks && k + 1 < parts.size()) {
        chunks(std::move(rest));
        continue;
      }
      whole.pcm += rest.pcm;
      whole.events.insert(whole.events.end(), rest.events.begin(), rest.events.end());
    }
    whole.sampleRate = rate;
    whole.synthesisUs = synthesisUs;
    return whole;
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

void SpeechEngine::prepare(const Voice& voice) {
  // An empty text loads the synthesiser and its voice and makes no sound; with no receiver,
  // nothing is handed out.
  synthesize(SpeechMarkup{}, voice, nullptr, [](Utterance, bool) {});
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
