#pragma once
// A benchmark's setting up must work: one that goes on after a failed step measures nothing.

#include <xbase/status.h>

#include <cstdio>
#include <cstdlib>

inline void Must(const xbase::Status& s) {
  if (s.ok()) return;
  std::fprintf(stderr, "a benchmark step failed: %s\n", s.ToString().c_str());
  std::abort();
}
