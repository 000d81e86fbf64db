// The faces of the voice, recogniser and sound modules: flite, espeak-ng, pocketsphinx and Qt
// Multimedia are loaded the first time something is said with one of their voices, listened for
// or played, not when the program starts.

#include "espeak_voice.h"
#include "flite_backend.h"
#include "sound_backend.h"
#include "sphinx_backend.h"

#include "agent/result.h"

#include <modules/module.h>

namespace agent {

namespace {

const modules::Table<flitevoice::Api>& Flite() {
  static const auto table =
      modules::LoadTable<flitevoice::Api>(QString::fromLatin1(flitevoice::kModuleFile), flitevoice::kEntryPoint,
                                          flitevoice::kVersion, QStringLiteral("the flite voice"));
  return table;
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

namespace espeakvoice {

Utterance synthesize(const SpeechMarkup& markup, const QString& voice, int rate, int pitch,
                     const std::atomic<bool>* cancelled, const std::function<void(Utterance)>& chunks) {
  static const auto table = modules::LoadTable<Api>(QString::fromLatin1(kModuleFile), kEntryPoint, kVersion,
                                                    QStringLiteral("the espeak-ng voice"));
  if (table.api) return table.api->synthesizeText(markup, voice, rate, pitch, cancelled, chunks);
  Utterance u;
  u.error = table.error;
  return u;
}

}  // namespace espeakvoice

namespace sphinx {

Result<const Api*> Load() {
  static const auto table = modules::LoadTable<Api>(QString::fromLatin1(kModuleFile), kEntryPoint, kVersion,
                                                    QStringLiteral("speech recognition"));
  if (!table.api) return Failure{FailureKind::NotInstalled, table.error};
  return table.api;
}

}  // namespace sphinx

namespace sound {

Result<const Api*> Load() {
  static const auto table =
      modules::LoadTable<Api>(QString::fromLatin1(kModuleFile), kEntryPoint, kVersion, QStringLiteral("sound"));
  if (!table.api) return Failure{FailureKind::NotInstalled, table.error};
  return table.api;
}

}  // namespace sound

}  // namespace agent
