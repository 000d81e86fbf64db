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

// Where flite's filter hands the audio of the utterance being synthesised: its utterance
// (complete but for the wave), the wave and how many of its samples are made. False stops the
// synthesis.
struct StreamedPiece {
  std::function<bool(const cst_utterance*, const cst_wave*, int)> made;
};

int streamedAudio(const cst_wave* wave, int start, int size, int /*last*/, cst_audio_streaming_info* asi) {
  const auto* piece = static_cast<const StreamedPiece*>(asi->userdata);
  if (!piece || !piece->made) return CST_AUDIO_STREAM_CONT;
  return piece->made(asi->utt, wave, start + size) ? CST_AUDIO_STREAM_CONT : CST_AUDIO_STREAM_STOP;
}

// Has a voice's filter hand its audio to `piece` while it is set (clustergen voices only; the
// others make the whole wave first). Called with fliteMutex held.
class StreamingInfo {
 public:
  StreamingInfo(cst_voice* voice, StreamedPiece* piece) : m_voice(voice) {
    cst_audio_streaming_info* asi = new_audio_streaming_info();
    asi->min_buffsize = kSampleRate / 50;  // every 20 ms of audio
    asi->asc = streamedAudio;
    asi->userdata = piece;
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

Utterance synthesize(const SpeechMarkup& markup, const QString& voiceName, int rate, int pitch, int formants,
                     const std::atomic<bool>* cancelled, const std::function<void(Utterance)>& chunks) {
  std::lock_guard lock(fliteMutex());
  QElapsedTimer timer;
  timer.start();
  Utterance out;
  out.sampleRate = kSampleRate;
  const LoadedVoice voice = loadVoice(voiceName);
  if (!voice.voice) {
    out.error = QStringLiteral("flite could not load its voice %1").arg(voiceName);
    return out;
  }
  const double native = nativeWordsPerMinute(voiceName);
  // The file's pitch is 0-100 with the voice's own at 50; one step is about 1/87 octave, as on
  // espeak-ng's scale.
  const double ownF0 = voice.ownF0 * std::pow(2.0, (std::clamp(pitch, 0, 100) - 50) / 87.0);
  formants = std::clamp(formants, 80, 120);

  std::vector<short> samples;
  std::vector<SpeechEvent> events;  // each piece's in time order
  size_t samplesOut = 0;
  size_t eventsOut = 0;
  MouthShape lastMouth = MouthShape::Closed;
  auto nowMs = [&] { return qint64(samples.size()) * 1000 / kSampleRate; };
  // The audio made so far, with the events that fall inside it.
  auto takeChunk = [&] {
    Utterance piece;
    piece.sampleRate = kSampleRate;
    piece.pcm = QByteArray(reinterpret_cast<const char*>(samples.data() + samplesOut),
                           qsizetype((samples.size() - samplesOut) * sizeof(short)));
    const qint64 end = nowMs();
    size_t e = eventsOut;
    while (e < events.size() && events[e].ms <= end) ++e;
    piece.events.assign(events.begin() + qsizetype(eventsOut), events.begin() + qsizetype(e));
    samplesOut = samples.size();
    eventsOut = e;
    return piece;
  };
  auto maybeFlush = [&] {
    if (!chunks) return;
    // A tenth of a second goes out first, then pieces as long as all before them together,
    // up to three seconds: the audio handed out stays well ahead of the synthesis.
    const size_t pending = samples.size() - samplesOut;
    const size_t wanted = std::clamp(samplesOut, size_t(kSampleRate / 10), size_t(kSampleRate) * 3);
    if (pending > 0 && pending >= wanted) chunks(takeChunk());
  };

  // flite hands its audio out while its filter makes it; by the first handful of samples the
  // utterance's words and phones are all known, so the piece's events are placed then.
  StreamedPiece piece;
  StreamingInfo streaming(voice.voice, &piece);

  const auto& items = markup.items;
  size_t i = 0;
  while (i < items.size()) {
    if (cancelled && cancelled->load()) {
      out.cancelled = true;
      return out;
    }
    const SpokenItem& item = items[i];
    if (item.kind == SpokenItem::Mark) {
      events.push_back({SpeechEvent::Bookmark, nowMs(), item.value});
      ++i;
      continue;
    }
    if (item.kind == SpokenItem::Pause) {
      samples.insert(samples.end(), size_t(qint64(item.value) * kSampleRate / 1000), short(0));
      ++i;
      maybeFlush();
      continue;
    }
    // A run of words spoken alike, up to the end of a sentence.
    size_t j = i;
    QString text;
    std::vector<int> tokensPerWord;
    while (j < items.size() && items[j].kind == SpokenItem::Word && items[j].rate == item.rate &&
           items[j].pitchHz == item.pitchHz && items[j].emphasis == item.emphasis) {
      if (!text.isEmpty()) text += QLatin1Char(' ');
      text += items[j].text;
      tokensPerWord.push_back(std::max(1, tokenCount(items[j].text)));
      ++j;
      if (endsSentence(items[j - 1].text)) break;
      // While streaming, the first piece is kept short (to a pause in the sentence, or ten
      // words): flite reads and times a whole piece before its first sample.
      if (chunks && samples.empty() && ((j - i >= 4 && endsPhrase(items[j - 1].text)) || j - i >= kFirstPieceWords))
        break;
    }
    const bool sentenceEnd = endsSentence(items[j - 1].text) || j == items.size() || items[j].kind == SpokenItem::Pause;
    const bool more = j < items.size();

    double stretch = native / std::clamp(item.rate > 0 ? item.rate : rate, 80, 450);
    double f0 = item.pitchHz > 0 ? std::clamp(item.pitchHz, 50, 400) : ownF0;
    if (item.emphasis) {
      stretch *= 1.12;
      f0 *= 1.15;
    }
    feat_set_float(voice.voice->features, "duration_stretch", float(std::clamp(stretch, 0.3, 3.0)));
    feat_set_float(voice.voice->features, "int_f0_target_mean", float(f0));
    cst_cg_db* model = voice.ownModel;
    if (voice.accentModel) model = std::abs(f0 - voice.ownF0) < 0.5 ? voice.accentModel : voice.plainModel;
    if (model) feat_set(voice.voice->features, "cg_db", cg_db_val(withFormants(model, formants)));

    // Where the piece's speech lies, and its events: from the utterance's relations.
    double from = 0;
    double to = std::numeric_limits<double>::infinity();
    auto place = [&](const cst_utterance* utt) {
      // Silence flite puts around the utterance: a short breath between sentences, next to
      // nothing between the pieces of one sentence (so that emphasis or a change of pitch
      // does not break it up) and at the end, where the speech is over when the words are.
      const cst_item* firstSeg = relation_head(utt_relation(utt, "Segment"));
      const cst_item* lastSeg = relation_tail(utt_relation(utt, "Segment"));
      if (firstSeg && QLatin1String(item_feat_string(firstSeg, "name")) == QLatin1String("pau"))
        from = std::max(0.0, double(segmentEnd(firstSeg)) - 0.05);
      if (lastSeg && QLatin1String(item_feat_string(lastSeg, "name")) == QLatin1String("pau") && item_prev(lastSeg))
        to = double(segmentEnd(item_prev(lastSeg))) + (sentenceEnd && more ? 0.25 : 0.05);
      // The audio lasts as long as the phones (to within one of the filter's frames).
      const double spoken = std::min(to, double(segmentEnd(lastSeg)));
      const qint64 base = nowMs();
      const size_t firstEvent = events.size();
      auto at = [&](double seconds) { return base + qint64(std::lround((std::max(seconds, from) - from) * 1000)); };

      // Words: flite's tokens are the text's white-space separated pieces, so they line up
      // with ours; each of our words is heard when its first token starts.
      std::vector<double> tokenStarts;
      for (const cst_item* t = relation_head(utt_relation(utt, "Token")); t; t = item_next(t)) {
        double start = -1;
        for (const cst_item* w = item_daughter(item_as(t, "Token")); w && start < 0; w = item_next(w))
          start = wordStart(w);
        tokenStarts.push_back(start);
      }
      const int wanted = [&] {
        int n = 0;
        for (int c : tokensPerWord) n += c;
        return n;
      }();
      size_t token = 0;
      double previous = from;
      for (size_t w = 0; w < tokensPerWord.size(); ++w) {
        double start = -1;
        if (int(tokenStarts.size()) == wanted) {
          for (int k = 0; k < tokensPerWord[w] && start < 0; ++k) start = tokenStarts[token + size_t(k)];
          token += size_t(tokensPerWord[w]);
        } else {
          // flite split the text differently: spread the words over the speech instead.
          start = from + (spoken - from) * double(w) / double(tokensPerWord.size());
        }
        if (start < 0) start = previous;
        previous = start;
        events.push_back({SpeechEvent::Word, at(start), items[i + w].shownEnd});
      }
      // The mouth follows the phones.
      double segStart = 0;
      for (const cst_item* s = firstSeg; s; s = item_next(s)) {
        const MouthShape m = mouthShapeForPhone(QString::fromLatin1(item_feat_string(s, "name")));
        if (m != lastMouth && segStart >= from && segStart < to) {
          events.push_back({SpeechEvent::Mouth, at(segStart), int(m)});
          lastMouth = m;
        }
        segStart = segmentEnd(s);
      }
      std::stable_sort(events.begin() + qsizetype(firstEvent), events.end(),
                       [](const SpeechEvent& a, const SpeechEvent& b) { return a.ms < b.ms; });
    };

    // The samples of [from, to) made so far, converted to our rate when the voice's differs.
    double next = -1;  // the voice's sample that becomes our next one
    auto take = [&](const cst_utterance* utt, const cst_wave* wave, int available) {
      if (next < 0) {
        place(utt);
        next = std::round(from * wave->sample_rate);
      }
      const double step = double(wave->sample_rate) / kSampleRate;
      const double end = std::min(double(available), std::round(to * wave->sample_rate));
      if (step == 1.0) {
        if (next < end) samples.insert(samples.end(), wave->samples + int(next), wave->samples + int(end));
        next = std::max(next, end);
      } else {
        for (; next < end; next += step) samples.push_back(wave->samples[int(next)]);
      }
      maybeFlush();
      return !(cancelled && cancelled->load());
    };
    piece.made = take;
    const QByteArray utf8 = text.toUtf8();
    cst_utterance* utt = flite_synth_text(utf8.constData(), voice.voice);
    piece.made = {};
    if (cancelled && cancelled->load()) {
      if (utt) delete_utterance(utt);
      out.cancelled = true;
      return out;
    }
    const cst_wave* wave = utt ? utt_wave(utt) : nullptr;
    if (!wave || wave->num_channels != 1) {
      if (utt) delete_utterance(utt);
      out.error = QStringLiteral("flite could not synthesise \"%1\"").arg(text.left(60));
      return out;
    }
    // A voice that does not stream hands its audio over all at once.
    if (next < 0) take(utt, wave, wave->num_samples);
    delete_utterance(utt);
    i = j;
    maybeFlush();
  }
  if (lastMouth != MouthShape::Closed) events.push_back({SpeechEvent::Mouth, nowMs(), int(MouthShape::Closed)});
  Utterance rest = takeChunk();
  rest.events.insert(rest.events.end(), events.begin() + qsizetype(eventsOut), events.end());
  rest.synthesisUs = timer.nsecsElapsed() / 1000;
  const qint64 total = nowMs();
  for (SpeechEvent& e : rest.events) e.ms = std::min(e.ms, total);
  std::stable_sort(rest.events.begin(), rest.events.end(),
                   [](const SpeechEvent& a, const SpeechEvent& b) { return a.ms < b.ms; });
  return rest;
}

}  // namespace agent::flitevoice
