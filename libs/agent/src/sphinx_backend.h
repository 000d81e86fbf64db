#pragma once
// What the recogniser module (pocketsphinx, with its BLAS and LAPACK behind it) offers the
// recogniser, which loads it when it first needs its model.

#include <QString>

#include <cstddef>

namespace agent {
// Defined in agent/result.h, which the module itself goes without.
template <typename Pointer>
class Result;
}  // namespace agent

namespace agent::sphinx {

// Raised whenever a member is added, removed or changes its type.
inline constexpr int kVersion = 1;

struct Decoder;  // one pocketsphinx decoder with its configuration

struct Api {
  int version = kVersion;
  // A decoder with this acoustic model and dictionary, logging nowhere; null when the model cannot
  // be loaded.
  Decoder* (*open)(const char* modelDir, const char* dictionary);
  void (*close)(Decoder*);
  bool (*knowsWord)(Decoder*, const char* word);
  bool (*addWord)(Decoder*, const char* word, const char* phones);
  // Makes a JSGF grammar the search in use.
  bool (*useGrammar)(Decoder*, const char* searchName, const char* jsgf);
  bool (*startUtterance)(Decoder*);
  void (*process)(Decoder*, const short* samples, size_t count);
  void (*endUtterance)(Decoder*);
  // The words heard in the last utterance; null when none. Valid until the next call.
  const char* (*hypothesis)(Decoder*);
};

inline constexpr const char* kModuleFile = "libagent-sphinx.so";
inline constexpr const char* kEntryPoint = "agent_sphinx_api";

// The module, loaded on the first call; NotInstalled when it cannot be.
Result<const Api*> Load();

}  // namespace agent::sphinx
