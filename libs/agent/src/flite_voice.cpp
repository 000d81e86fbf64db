#include "flite_voice.h"

extern "C" {
#include <flite/cst_cg.h>
#include <flite/flite.h>
cst_voice* register_cmu_us_slt(const char* voxdir);
cst_voice* register_cmu_us_rms(const char* voxdir);
cst_voice* register_cmu_us_awb(const char* voxdir);
cst_lexicon* cmulex_init(void);
}

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace agent::flitevoice {

namespace {

// flite keeps its voices and lexicon in process-wide state: one caller at a time.
std::mutex& fliteMutex() {
  static std::mutex m;
  return m;
}

// The speaking rate of the voices at their own pace, in words per minute, over everyday
// reminder sentences and short phrases (slt and awb about 185, rms about 170).
double nativeWordsPerMinute(const QString& voice) { return voice == QLatin1String("rms") ? 170 : 185; }

struct LoadedVoice {
  cst_voice* voice = nullptr;
  float ownF0 = 0;  // the voice's mean pitch in Hz
  // Voices whose pitch comes from flite's accent model (rms) ignore the pitch target; a copy
  // of their data without that model follows it, and is used whenever the pitch is not the
  // voice's own.
  cst_cg_db* accentModel = nullptr;
  cst_cg_db* plainModel = nullptr;
  cst_cg_db* ownModel = nullptr;  // the voice's data as it comes
};

// A copy of a voice's data that places its formants at `percent` of their own frequencies.
// flite's voices describe the spectrum on a warped frequency scale (an all-pass warp with the
// data's `mlsa_alpha`); synthesising with a stronger warp maps each part of that description
// to a lower frequency, and a weaker one to a higher. The warp's alpha is chosen so that the
// low frequencies, where the first formants are, move by the factor asked for. Called with
// fliteMutex held; the copies are kept for the life of the process, as the voices are.
cst_cg_db* withFormants(cst_cg_db* model, int percent) {
  if (!model || percent == 100) return model;
  static std::map<std::pair<cst_cg_db*, int>, cst_cg_db*> copies;
  cst_cg_db*& copy = copies[{model, percent}];
  if (!copy) {
    const double a = model->mlsa_alpha;
    const double slope = (1 + a) / (1 - a) * 100.0 / percent;  // the warp's slope at 0 Hz
    copy = new cst_cg_db(*model);
    copy->mlsa_alpha = float((slope - 1) / (slope + 1));
  }
  return copy;
}

// Called with fliteMutex held.
LoadedVoice loadVoice(const QString& name) {
  static bool initialised = false;
  static std::map<QString, LoadedVoice> voices;
  if (!initialised) {
    flite_init();
    initialised = true;
  }
  auto it = voices.find(name);
  if (it != voices.end()) return it->second;
  LoadedVoice v;
  if (name == QLatin1String("rms"))
    v.voice = register_cmu_us_rms(nullptr);
  else if (name == QLatin1String("awb"))
    v.voice = register_cmu_us_awb(nullptr);
  else
    v.voice = register_cmu_us_slt(nullptr);
  if (v.voice) {
    v.ownF0 = get_param_float(v.voice->features, "int_f0_target_mean", 0);
    if (feat_present(v.voice->features, "cg_db")) {
      cst_cg_db* db = val_cg_db(feat_val(v.voice->features, "cg_db"));
      v.ownModel = db;
      if (v.ownF0 <= 0) v.ownF0 = db->f0_mean;
      if (db->spamf0) {
        // Kept for the life of the process, as the voice itself is; flite never frees a
        // voice's built-in data (its `freeable` is 0, and the copy keeps that).
        v.accentModel = db;
        v.plainModel = new cst_cg_db(*db);
        v.plainModel->spamf0 = 0;
      }
    }
    if (v.ownF0 <= 0) v.ownF0 = 110;
  }
  voices[name] = v;
  return v;
}

bool endsSentence(const QString& word) {
  QString w = word;
  while (!w.isEmpty() && QStringLiteral("\"')]").contains(w.back())) w.chop(1);
  return !w.isEmpty() && QStringLiteral(".!?").contains(w.back());
}

bool endsPhrase(const QString& word) { return !word.isEmpty() && QStringLiteral(",;:").contains(word.back()); }

constexpr size_t kFirstPieceWords = 10;

// Number of flite tokens (white-space separated pieces) in a text.
int tokenCount(const QString& text) { return int(text.split(QLatin1Char(' '), Qt::SkipEmptyParts).size()); }

float segmentEnd(const cst_item* segment) { return segment ? item_feat_float(segment, "end") : 0.0f; }

// Where a word of the utterance starts, in seconds; negative when it has no phones (flite
// makes words of punctuation inside a token, such as the dots of an address).
float wordStart(const cst_item* word) {
  const cst_item* first = path_to_item(word, "R:SylStructure.daughter1.daughter1.R:Segment");
  if (!first) return -1;
  const cst_item* before = item_prev(first);
  return before ? segmentEnd(before) : 0.0f;
}

// Has a voice's filter hand its audio to `streamed`, with `userdata`, while it makes it
// (clustergen voices only; the others make the whole wave first). Called with fliteMutex held.
class StreamingInfo {
 public:
  StreamingInfo(cst_voice* voice, cst_audio_stream_callback streamed, void* userdata) : m_voice(voice) {
    cst_audio_streaming_info* asi = new_audio_streaming_info();
    asi->min_buffsize = kSampleRate / 50;  // every 20 ms of audio
    asi->asc = streamed;
    asi->userdata = userdata;
    feat_set(m_voice->features, "streaming_info", audio_streaming_info_val(asi));
  }
  ~StreamingInfo() { feat_remove(m_voice->features, "streaming_info"); }  // frees the info
  Q_DISABLE_COPY_MOVE(StreamingInfo)

 private:
  cst_voice* m_voice;
};

}  // namespace

MouthShape mouthShapeForPhone(const QString& phone) {
  // Constant data: read by the speech thread, so nothing here may ever be destroyed.
  struct Entry {
    const char* phone;
    MouthShape shape;
  };
  static constexpr Entry kShapes[] = {
      {"pau", MouthShape::Closed}, {"p", MouthShape::Closed}, {"b", MouthShape::Closed}, {"m", MouthShape::Closed},
      {"ow", MouthShape::Round},   {"uw", MouthShape::Round}, {"uh", MouthShape::Round}, {"w", MouthShape::Round},
      {"ao", MouthShape::Round},   {"oy", MouthShape::Round}, {"er", MouthShape::Round}, {"iy", MouthShape::Wide},
      {"ih", MouthShape::Wide},    {"ey", MouthShape::Wide},  {"eh", MouthShape::Wide},  {"y", MouthShape::Wide},
      {"aa", MouthShape::Open},    {"ae", MouthShape::Open},  {"ah", MouthShape::Open},  {"ay", MouthShape::Open},
      {"aw", MouthShape::Open},    {"hh", MouthShape::Open},
  };
  const QString lower = phone.toLower();
  for (const Entry& e : kShapes)
    if (lower == QLatin1String(e.phone)) return e.shape;
  return phone.isEmpty() ? MouthShape::Closed : MouthShape::Teeth;
}

QStringList pronounce(const QString& word) {
  std::lock_guard lock(fliteMutex());
  static cst_lexicon* lexicon = nullptr;
  if (!lexicon) {
    loadVoice(QStringLiteral("slt"));  // initialises flite
    lexicon = cmulex_init();
  }
  QStringList phones;
  const QByteArray w = word.toLower().toUtf8();
  if (w.isEmpty()) return phones;
  cst_val* p = lex_lookup(lexicon, w.constData(), nullptr, nullptr);
  for (const cst_val* q = p; q; q = val_cdr(q)) {
    QString phone = QString::fromLatin1(val_string(val_car(q))).toUpper();
    while (!phone.isEmpty() && phone.back().isDigit()) phone.chop(1);
    if (!phone.isEmpty()) phones << phone;
  }
  delete_val(p);
  return phones;
}

namespace {

// A run of words spoken alike, up to the end of a sentence: what flite synthesises at once.
struct WordRun {
  size_t first = 0;  // the markup's item of its first word
  size_t end = 0;    // one past its last word
  QString text;
  std::vector<int> tokensPerWord;
  bool sentenceEnd = false;  // a sentence, a pause or the speech ends with it
  bool more = false;         // items follow it
};

// Where a run's speech lies in its utterance, in seconds: the silence flite puts around it is cut.
struct SpeechSpan {
  double from = 0;
  double to = std::numeric_limits<double>::infinity();
};

// One synthesis, in stages: the markup's items are read in runs, each run is set up, spoken and
// its events placed, and the audio made so far is handed out in chunks on the way.
class Synthesis {
 public:
  Synthesis(const LoadedVoice& voice, const QString& voiceName, int rate, int pitch, int formants,
            const std::atomic<bool>* cancelled, const std::function<void(Utterance)>& chunks)
      : m_voice(voice),
        m_native(nativeWordsPerMinute(voiceName)),
        // The file's pitch is 0-100 with the voice's own at 50; one step is about 1/87 octave, as
        // on espeak-ng's scale.
        m_ownF0(voice.ownF0 * std::pow(2.0, (std::clamp(pitch, 0, 100) - 50) / 87.0)),
        m_rate(rate),
        m_formants(std::clamp(formants, 80, 120)),
        m_cancelled(cancelled),
        m_chunks(chunks),
        // flite hands its audio out while its filter makes it; by the first handful of samples the
        // utterance's words and phones are all known, so the run's events are placed then.
        m_streaming(voice.voice, &Synthesis::streamed, this) {}

  // Speaks the items; stops early with an utterance that is cancelled or tells the error.
  Utterance speakAll(const SpeechMarkup& markup) {
    const auto& items = markup.items;
    size_t i = 0;
    while (i < items.size()) {
      if (isCancelled()) return stopped();
      const SpokenItem& item = items[i];
      if (item.kind == SpokenItem::Mark) {
        m_events.push_back({SpeechEvent::Bookmark, nowMs(), item.value});
        ++i;
        continue;
      }
      if (item.kind == SpokenItem::Pause) {
        m_samples.insert(m_samples.end(), size_t(qint64(item.value) * kSampleRate / 1000), short(0));
        ++i;
        maybeFlush();
        continue;
      }
      const WordRun run = wordRun(items, i);
      setProsody(item);
      if (auto failed = speak(items, run)) return *failed;
      i = run.end;
      maybeFlush();
    }
    return finish();
  }

 private:
  bool isCancelled() const { return m_cancelled && m_cancelled->load(); }

  qint64 nowMs() const { return qint64(m_samples.size()) * 1000 / kSampleRate; }

  // An utterance with nothing in it: cancelled, or telling why the synthesis failed.
  static Utterance stopped(const QString& error = {}) {
    Utterance out;
    out.sampleRate = kSampleRate;
    out.error = error;
    out.cancelled = error.isEmpty();
    return out;
  }

  // The audio made so far, with the events that fall inside it.
  Utterance takeChunk() {
    Utterance piece;
    piece.sampleRate = kSampleRate;
    piece.pcm = QByteArray(reinterpret_cast<const char*>(m_samples.data() + m_samplesOut),
                           qsizetype((m_samples.size() - m_samplesOut) * sizeof(short)));
    const qint64 end = nowMs();
    size_t e = m_eventsOut;
    while (e < m_events.size() && m_events[e].ms <= end) ++e;
    piece.events.assign(m_events.begin() + qsizetype(m_eventsOut), m_events.begin() + qsizetype(e));
    m_samplesOut = m_samples.size();
    m_eventsOut = e;
    return piece;
  }

  void maybeFlush() {
    if (!m_chunks) return;
    // A tenth of a second goes out first, then pieces as long as all before them together,
    // up to three seconds: the audio handed out stays well ahead of the synthesis.
    const size_t pending = m_samples.size() - m_samplesOut;
    const size_t wanted = std::clamp(m_samplesOut, size_t(kSampleRate / 10), size_t(kSampleRate) * 3);
    if (pending > 0 && pending >= wanted) m_chunks(takeChunk());
  }

  // The run of words spoken alike that starts at item i.
  WordRun wordRun(const std::vector<SpokenItem>& items, size_t i) const {
    const SpokenItem& item = items[i];
    WordRun run;
    run.first = i;
    size_t j = i;
    while (j < items.size() && items[j].kind == SpokenItem::Word && items[j].rate == item.rate &&
           items[j].pitchHz == item.pitchHz && items[j].emphasis == item.emphasis) {
      if (!run.text.isEmpty()) run.text += QLatin1Char(' ');
      run.text += items[j].text;
      run.tokensPerWord.push_back(std::max(1, tokenCount(items[j].text)));
      ++j;
      if (endsSentence(items[j - 1].text)) break;
      // While streaming, the first run is kept short (to a pause in the sentence, or ten
      // words): flite reads and times a whole run before its first sample.
      if (m_chunks && m_samples.empty() && ((j - i >= 4 && endsPhrase(items[j - 1].text)) || j - i >= kFirstPieceWords))
        break;
    }
    run.end = j;
    run.sentenceEnd = endsSentence(items[j - 1].text) || j == items.size() || items[j].kind == SpokenItem::Pause;
    run.more = j < items.size();
    return run;
  }

  // The voice's pace, pitch and formants for the run that starts with this item.
  void setProsody(const SpokenItem& item) {
    double stretch = m_native / std::clamp(item.rate > 0 ? item.rate : m_rate, 80, 450);
    double f0 = item.pitchHz > 0 ? std::clamp(item.pitchHz, 50, 400) : m_ownF0;
    if (item.emphasis) {
      stretch *= 1.12;
      f0 *= 1.15;
    }
    feat_set_float(m_voice.voice->features, "duration_stretch", float(std::clamp(stretch, 0.3, 3.0)));
    feat_set_float(m_voice.voice->features, "int_f0_target_mean", float(f0));
    cst_cg_db* model = m_voice.ownModel;
    if (m_voice.accentModel) model = std::abs(f0 - m_voice.ownF0) < 0.5 ? m_voice.accentModel : m_voice.plainModel;
    if (model) feat_set(m_voice.voice->features, "cg_db", cg_db_val(withFormants(model, m_formants)));
  }

  // Synthesises a run into the samples; an utterance that ends the synthesis when it cannot.
  std::optional<Utterance> speak(const std::vector<SpokenItem>& items, const WordRun& run) {
    m_speaking = {&items, &run};
    const QByteArray utf8 = run.text.toUtf8();
    cst_utterance* utt = flite_synth_text(utf8.constData(), m_voice.voice);
    const Speaking spoken = std::exchange(m_speaking, {});
    if (isCancelled()) {
      if (utt) delete_utterance(utt);
      return stopped();
    }
    const cst_wave* wave = utt ? utt_wave(utt) : nullptr;
    if (!wave || wave->num_channels != 1) {
      if (utt) delete_utterance(utt);
      return stopped(QStringLiteral("flite could not synthesise \"%1\"").arg(run.text.left(60)));
    }
    // A voice that does not stream hands its audio over all at once.
    if (spoken.next < 0) {
      m_speaking = spoken;
      take(utt, wave, wave->num_samples);
      m_speaking = {};
    }
    delete_utterance(utt);
    return std::nullopt;
  }

  // Where flite's filter hands the audio of the run being spoken: its utterance (complete but for
  // the wave), the wave and how many of its samples are made. Stop ends the synthesis.
  static int streamed(const cst_wave* wave, int start, int size, int /*last*/, cst_audio_streaming_info* asi) {
    auto* self = static_cast<Synthesis*>(asi->userdata);
    if (!self->m_speaking.run) return CST_AUDIO_STREAM_CONT;
    return self->take(asi->utt, wave, start + size) ? CST_AUDIO_STREAM_CONT : CST_AUDIO_STREAM_STOP;
  }

  // The samples of the run's span made so far, converted to our rate when the voice's differs;
  // the run's events are placed with the first of them. False when cancelled.
  bool take(const cst_utterance* utt, const cst_wave* wave, int available) {
    Speaking& s = m_speaking;
    if (s.next < 0) {
      s.span = speechSpan(utt, *s.run);
      placeEvents(*s.items, utt, *s.run, s.span);
      s.next = std::round(s.span.from * wave->sample_rate);
    }
    const double step = double(wave->sample_rate) / kSampleRate;
    const double end = std::min(double(available), std::round(s.span.to * wave->sample_rate));
    if (step == 1.0) {
      if (s.next < end) m_samples.insert(m_samples.end(), wave->samples + int(s.next), wave->samples + int(end));
      s.next = std::max(s.next, end);
    } else {
      for (; s.next < end; s.next += step) m_samples.push_back(wave->samples[int(s.next)]);
    }
    maybeFlush();
    return !isCancelled();
  }

  // Silence flite puts around the utterance: a short breath between sentences, next to nothing
  // between the runs of one sentence (so that emphasis or a change of pitch does not break it
  // up) and at the end, where the speech is over when the words are.
  static SpeechSpan speechSpan(const cst_utterance* utt, const WordRun& run) {
    SpeechSpan span;
    const cst_item* firstSeg = relation_head(utt_relation(utt, "Segment"));
    const cst_item* lastSeg = relation_tail(utt_relation(utt, "Segment"));
    if (firstSeg && QLatin1String(item_feat_string(firstSeg, "name")) == QLatin1String("pau"))
      span.from = std::max(0.0, double(segmentEnd(firstSeg)) - 0.05);
    if (lastSeg && QLatin1String(item_feat_string(lastSeg, "name")) == QLatin1String("pau") && item_prev(lastSeg))
      span.to = double(segmentEnd(item_prev(lastSeg))) + (run.sentenceEnd && run.more ? 0.25 : 0.05);
    return span;
  }

  // The run's events, from the utterance's relations, at their places in our audio.
  void placeEvents(const std::vector<SpokenItem>& items, const cst_utterance* utt, const WordRun& run,
                   const SpeechSpan& span) {
    const qint64 base = nowMs();
    const size_t firstEvent = m_events.size();
    const auto at = [&](double seconds) {
      return base + qint64(std::lround((std::max(seconds, span.from) - span.from) * 1000));
    };
    placeWords(items, utt, run, span, at);
    placeMouth(utt, span, at);
    std::stable_sort(m_events.begin() + qsizetype(firstEvent), m_events.end(),
                     [](const SpeechEvent& a, const SpeechEvent& b) { return a.ms < b.ms; });
  }

  // Words: flite's tokens are the text's white-space separated pieces, so they line up with
  // ours; each of our words is heard when its first token starts.
  template <typename At>
  void placeWords(const std::vector<SpokenItem>& items, const cst_utterance* utt, const WordRun& run,
                  const SpeechSpan& span, const At& at) {
    // The audio lasts as long as the phones (to within one of the filter's frames).
    const double spoken = std::min(span.to, double(segmentEnd(relation_tail(utt_relation(utt, "Segment")))));
    std::vector<double> tokenStarts;
    for (const cst_item* t = relation_head(utt_relation(utt, "Token")); t; t = item_next(t)) {
      double start = -1;
      for (const cst_item* w = item_daughter(item_as(t, "Token")); w && start < 0; w = item_next(w))
        start = wordStart(w);
      tokenStarts.push_back(start);
    }
    int wanted = 0;
    for (int c : run.tokensPerWord) wanted += c;
    size_t token = 0;
    double previous = span.from;
    for (size_t w = 0; w < run.tokensPerWord.size(); ++w) {
      double start = -1;
      if (int(tokenStarts.size()) == wanted) {
        for (int k = 0; k < run.tokensPerWord[w] && start < 0; ++k) start = tokenStarts[token + size_t(k)];
        token += size_t(run.tokensPerWord[w]);
      } else {
        // flite split the text differently: spread the words over the speech instead.
        start = span.from + (spoken - span.from) * double(w) / double(run.tokensPerWord.size());
      }
      if (start < 0) start = previous;
      previous = start;
      m_events.push_back({SpeechEvent::Word, at(start), items[run.first + w].shownEnd});
    }
  }

  // The mouth follows the phones.
  template <typename At>
  void placeMouth(const cst_utterance* utt, const SpeechSpan& span, const At& at) {
    double segStart = 0;
    for (const cst_item* s = relation_head(utt_relation(utt, "Segment")); s; s = item_next(s)) {
      const MouthShape m = mouthShapeForPhone(QString::fromLatin1(item_feat_string(s, "name")));
      if (m != m_lastMouth && segStart >= span.from && segStart < span.to) {
        m_events.push_back({SpeechEvent::Mouth, at(segStart), int(m)});
        m_lastMouth = m;
      }
      segStart = segmentEnd(s);
    }
  }

  // The audio not handed out yet, with every event left, the mouth closed at the end.
  Utterance finish() {
    if (m_lastMouth != MouthShape::Closed) m_events.push_back({SpeechEvent::Mouth, nowMs(), int(MouthShape::Closed)});
    Utterance rest = takeChunk();
    rest.events.insert(rest.events.end(), m_events.begin() + qsizetype(m_eventsOut), m_events.end());
    const qint64 total = nowMs();
    for (SpeechEvent& e : rest.events) e.ms = std::min(e.ms, total);
    std::stable_sort(rest.events.begin(), rest.events.end(),
                     [](const SpeechEvent& a, const SpeechEvent& b) { return a.ms < b.ms; });
    return rest;
  }

  const LoadedVoice& m_voice;
  const double m_native;  // the voice's own pace, words per minute
  const double m_ownF0;   // the pitch asked for, in Hz
  const int m_rate;
  const int m_formants;
  const std::atomic<bool>* m_cancelled;
  const std::function<void(Utterance)>& m_chunks;
  // The run being spoken, while flite speaks it.
  struct Speaking {
    const std::vector<SpokenItem>* items = nullptr;
    const WordRun* run = nullptr;
    SpeechSpan span;
    double next = -1;  // the voice's sample that becomes our next one
  };
  Speaking m_speaking;
  StreamingInfo m_streaming;
  std::vector<short> m_samples;
  std::vector<SpeechEvent> m_events;  // each run's in time order
  size_t m_samplesOut = 0;            // handed out in chunks so far
  size_t m_eventsOut = 0;
  MouthShape m_lastMouth = MouthShape::Closed;
};

}  // namespace

Utterance synthesize(const SpeechMarkup& markup, const QString& voiceName, int rate, int pitch, int formants,
                     const std::atomic<bool>* cancelled, const std::function<void(Utterance)>& chunks) {
  std::lock_guard lock(fliteMutex());
  QElapsedTimer timer;
  timer.start();
  const LoadedVoice voice = loadVoice(voiceName);
  if (!voice.voice) {
    Utterance out;
    out.sampleRate = kSampleRate;
    out.error = QStringLiteral("flite could not load its voice %1").arg(voiceName);
    return out;
  }
  Synthesis synthesis(voice, voiceName, rate, pitch, formants, cancelled, chunks);
  Utterance out = synthesis.speakAll(markup);
  if (out.error.isEmpty() && !out.cancelled) out.synthesisUs = timer.nsecsElapsed() / 1000;
  out.voices = QStringList{QStringLiteral("flite:") + voiceName};
  return out;
}

}  // namespace agent::flitevoice
