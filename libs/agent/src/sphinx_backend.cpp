// The recogniser module: pocketsphinx's calls behind the table the recogniser uses.

#include "sphinx_backend.h"

#include <modules/module.h>
#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>

namespace agent::sphinx {

struct Decoder {
  cmd_ln_t* config = nullptr;
  ps_decoder_t* ps = nullptr;
};

namespace {

Decoder* Open(const char* modelDir, const char* dictionary) {
  auto* d = new Decoder;
  d->config =
      cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", modelDir, "-dict", dictionary, "-logfn", "/dev/null", nullptr);
  if (d->config) d->ps = ps_init(d->config);
  if (!d->ps) {
    if (d->config) cmd_ln_free_r(d->config);
    delete d;
    return nullptr;
  }
  return d;
}

void Close(Decoder* d) {
  if (!d) return;
  ps_free(d->ps);
  cmd_ln_free_r(d->config);
  delete d;
}

bool KnowsWord(Decoder* d, const char* word) {
  char* known = ps_lookup_word(d->ps, word);
  if (!known) return false;
  ckd_free(known);
  return true;
}

bool AddWord(Decoder* d, const char* word, const char* phones) { return ps_add_word(d->ps, word, phones, FALSE) >= 0; }

bool UseGrammar(Decoder* d, const char* searchName, const char* jsgf) {
  return ps_set_jsgf_string(d->ps, searchName, jsgf) == 0 && ps_set_search(d->ps, searchName) == 0;
}

bool StartUtterance(Decoder* d) { return ps_start_utt(d->ps) == 0; }

void Process(Decoder* d, const short* samples, size_t count) {
  ps_process_raw(d->ps, reinterpret_cast<const int16*>(samples), count, FALSE, FALSE);
}

void EndUtterance(Decoder* d) { ps_end_utt(d->ps); }

const char* Hypothesis(Decoder* d) {
  int32 score = 0;
  return ps_get_hyp(d->ps, &score);
}

}  // namespace

}  // namespace agent::sphinx

MODULES_ENTRY_POINT const agent::sphinx::Api* agent_sphinx_api() {
  using namespace agent::sphinx;
  static const Api api{kVersion,    &Open,           &Close,   &KnowsWord,    &AddWord,
                       &UseGrammar, &StartUtterance, &Process, &EndUtterance, &Hypothesis};
  return &api;
}
