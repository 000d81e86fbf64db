// The faces of the voice, recogniser and sound modules: flite, pocketsphinx and Qt Multimedia are
// loaded the first time something is said with a flite voice, listened for or played, not when
// the program starts.

#include "FliteBackend.h"
#include "SoundBackend.h"
#include "SphinxBackend.h"

#include <modules/Module.h>

namespace agent {

namespace {

template <typename Api>
struct Backend {
  const Api* api = nullptr;
  QString error;  // why there is none
};

template <typename Api>
Backend<Api> LoadBackend(const char* file, const char* entryPoint, int version, const QString& what) {
  Backend<Api> b;
  const modules::Loaded loaded = modules::Load(QString::fromLatin1(file), entryPoint);
  if (!loaded.entry) {
    b.error = QStringLiteral("%1 is not installed properly (%2)").arg(what, loaded.error);
    return b;
  }
  using EntryPoint = const Api* (*)();
  const Api* api = reinterpret_cast<EntryPoint>(loaded.entry)();
  if (!api || api->version != version)
    b.error = QStringLiteral("%1 belongs to another version of this program").arg(what);
  else
    b.api = api;
  return b;
}

const Backend<flitevoice::Api>& Flite() {
  static const auto backend = LoadBackend<flitevoice::Api>(flitevoice::kModuleFile, flitevoice::kEntryPoint,
                                                           flitevoice::kVersion, QStringLiteral("the flite voice"));
  return backend;
}

}  // namespace

namespace flitevoice {

Utterance synthesize(const SpeechMarkup& markup, const QString& voice, int rate, int pitch, int formants,
                     const std::atomic<bool>* cancelled, const std::function<void(Utterance)>& chunks) {
  if (const Api* api = Flite().api) return api->synthesizeText(markup, voice, rate, pitch, formants, cancelled, chunks);
  Utterance u;
  u.sampleRate = kSampleRate;
  u.error = Flite().error;
  return u;
}

QStringList pronounce(const QString& word) {
  if (const Api* api = Flite().api) return api->pronounceWord(word);
  return {};
}

}  // namespace flitevoice

namespace sphinx {

const Api* Load(QString* error) {
  static const auto backend =
      LoadBackend<Api>(kModuleFile, kEntryPoint, kVersion, QStringLiteral("speech recognition"));
  if (!backend.api && error) *error = backend.error;
  return backend.api;
}

}  // namespace sphinx

namespace sound {

const Api* Load(QString* error) {
  static const auto backend = LoadBackend<Api>(kModuleFile, kEntryPoint, kVersion, QStringLiteral("sound"));
  if (!backend.api && error) *error = backend.error;
  return backend.api;
}

}  // namespace sound

}  // namespace agent
