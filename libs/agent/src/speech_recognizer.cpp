#include "agent/speech_recognizer.h"

#include "agent/result.h"
#include "agent/voice_grammar.h"
#include "flite_voice.h"
#include "sphinx_backend.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace agent {

namespace {
const char* const kModelDir = "/usr/share/pocketsphinx/model/en-us/en-us";
const char* const kDictionary = "/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict";
const char* const kSearch = "commands";

// Everyday words the recogniser may hear instead of a command: longer ones, which do not
// pass for the short words of a command ("way" for "away") but absorb everyday speech. A closed grammar always finds
// its nearest phrase; with these beside the commands, speech that is not a command ends up as
// a string of them rather than as the phrase it sounds least unlike.
const char* const kEverydayWords[] = {
    "about",  "other",    "people",  "water",   "little",   "very",    "after",    "called",    "animal",   "mother",
    "father", "picture",  "follow",  "number",  "family",   "weather", "morning",  "evening",   "garden",   "doctor",
    "money",  "really",   "always",  "because", "before",   "between", "together", "important", "remember", "coffee",
    "dinner", "birthday", "music",   "paper",   "window",   "office",  "minute",   "meeting",   "over",     "under",
    "into",   "only",     "many",    "any",     "every",    "even",    "open",     "later",     "never",    "house",
    "world",  "school",   "country", "problem", "question", "answer",  "children", "letter",
};
}  // namespace

struct SpeechRecognizer::Private {
  const sphinx::Api* api = nullptr;
  sphinx::Decoder* ps = nullptr;
  bool tried = false;
  bool inUtterance = false;
  bool hasSearch = false;

  ~Private() {
    if (ps) api->close(ps);
  }
};

SpeechRecognizer::SpeechRecognizer() : d(std::make_unique<Private>()) {}

SpeechRecognizer::~SpeechRecognizer() = default;

bool SpeechRecognizer::ready() {
  if (d->ps) return true;
  if (d->tried) return false;
  d->tried = true;
  if (!QFileInfo::exists(QString::fromLatin1(kModelDir)) || !QFileInfo::exists(QString::fromLatin1(kDictionary))) {
    m_error = QStringLiteral("the speech recognition model is missing (install pocketsphinx-en-us)");
    return false;
  }
  const Result<const sphinx::Api*> loaded = sphinx::Load();
  if (!loaded) {
    m_error = loaded.error();
    return false;
  }
  d->api = loaded.value();
  d->ps = d->api->open(kModelDir, kDictionary);
  if (!d->ps) {
    m_error = QStringLiteral("pocketsphinx could not load its model from %1").arg(QString::fromLatin1(kModelDir));
    return false;
  }
  return true;
}

bool SpeechRecognizer::setCommands(const std::vector<Command>& commands) {
  m_commands = commands;
  m_problems.clear();
  const QString jsgf = commandsJsgf(commands, &m_problems);
  if (jsgf.isEmpty()) {
    m_grammar.clear();
    d->hasSearch = false;
    if (m_error.isEmpty()) m_error = QStringLiteral("no command has a voice entry");
    return false;
  }
  if (!ready()) return false;
  if (jsgf == m_commandsGrammar && d->hasSearch) return true;
  // Words the dictionary lacks: flite's pronunciation; a word nobody can pronounce drops the
  // commands that need it.
  QStringList vocabulary;
  for (const Command& c : commands) vocabulary << VoiceGrammar::parse(c.voice).vocabulary();
  vocabulary.removeDuplicates();
  std::vector<Command> usable = commands;
  for (const QString& word : vocabulary) {
    const QByteArray w = word.toUtf8();
    if (d->api->knowsWord(d->ps, w.constData())) continue;
    const QStringList phones = flitevoice::pronounce(word);
    if (phones.isEmpty() ||
        !d->api->addWord(d->ps, w.constData(), phones.join(QLatin1Char(' ')).toLatin1().constData())) {
      m_problems << QStringLiteral("no pronunciation for \"%1\"; commands using it cannot be spoken").arg(word);
      for (Command& c : usable)
        if (VoiceGrammar::parse(c.voice).vocabulary().contains(word)) c.voice.clear();
    }
  }
  QString finalJsgf = commandsJsgf(usable);
  if (!finalJsgf.isEmpty()) {
    QStringList grammarWords;
    for (const Command& c : usable) grammarWords << VoiceGrammar::parse(c.voice).vocabulary();
    QStringList everyday;
    for (const char* w : kEverydayWords)
      if (!grammarWords.contains(QLatin1String(w))) everyday << QString::fromLatin1(w);
    finalJsgf.replace(QStringLiteral("public <command> = "), QStringLiteral("public <command> = <other> | "));
    finalJsgf += QStringLiteral(
                     "<other> = <word> [ <word> ] [ <word> ] [ <word> ] [ <word> ] [ <word> ] [ <word> ] [ <word> ];\n"
                     "<word> = %1;\n")
                     .arg(everyday.join(QStringLiteral(" | ")));
  }
  if (finalJsgf.isEmpty() || !d->api->useGrammar(d->ps, kSearch, finalJsgf.toUtf8().constData())) {
    m_error = QStringLiteral("pocketsphinx did not accept the command grammar");
    d->hasSearch = false;
    m_grammar.clear();
    return false;
  }
  d->hasSearch = true;
  m_grammar = finalJsgf;
  m_commandsGrammar = jsgf;
  return true;
}

void SpeechRecognizer::begin() {
  if (!d->ps || !d->hasSearch) return;
  if (d->inUtterance) d->api->endUtterance(d->ps);
  d->inUtterance = d->api->startUtterance(d->ps);
}

void SpeechRecognizer::feed(const QByteArray& pcm) {
  if (!d->inUtterance || pcm.size() < 2) return;
  d->api->process(d->ps, reinterpret_cast<const short*>(pcm.constData()), size_t(pcm.size() / 2));
}

QString SpeechRecognizer::end() {
  if (!d->inUtterance) return {};
  d->inUtterance = false;
  d->api->endUtterance(d->ps);
  const char* hyp = d->api->hypothesis(d->ps);
  return hyp ? QString::fromUtf8(hyp).simplified().toLower() : QString();
}

QString SpeechRecognizer::recognizeCommand(const QByteArray& pcm) {
  begin();
  feed(pcm);
  return commandFor(end());
}

QString SpeechRecognizer::commandFor(const QString& words) const { return commandForPhrase(m_commands, words); }

QByteArray SpeechRecognizer::resample(const QByteArray& pcm, int fromRate, int toRate) {
  if (fromRate <= 0 || toRate <= 0 || fromRate == toRate) return pcm;
  const auto* in = reinterpret_cast<const qint16*>(pcm.constData());
  const qsizetype n = pcm.size() / 2;
  const qsizetype outCount = qsizetype(double(n) * toRate / fromRate);
  QByteArray out(outCount * 2, Qt::Uninitialized);
  auto* o = reinterpret_cast<qint16*>(out.data());
  // Windowed-sinc interpolation; the cut-off follows the lower of the two rates.
  const double ratio = double(fromRate) / toRate;
  const double cutoff = std::min(1.0, 1.0 / ratio);
  constexpr int kHalfWidth = 8;
  const double reach = kHalfWidth / cutoff;
  for (qsizetype k = 0; k < outCount; ++k) {
    const double centre = k * ratio;
    const qsizetype lo = std::max<qsizetype>(0, qsizetype(std::ceil(centre - reach)));
    const qsizetype hi = std::min<qsizetype>(n - 1, qsizetype(std::floor(centre + reach)));
    double sum = 0;
    double weights = 0;
    for (qsizetype j = lo; j <= hi; ++j) {
      const double x = (double(j) - centre) * cutoff;
      const double sinc = x == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
      const double window = 0.5 + 0.5 * std::cos(M_PI * x / kHalfWidth);
      const double w = sinc * window;
      sum += w * in[j];
      weights += w;
    }
    o[k] = qint16(std::clamp(weights != 0 ? sum / weights : 0.0, -32768.0, 32767.0));
  }
  return out;
}

}  // namespace agent
