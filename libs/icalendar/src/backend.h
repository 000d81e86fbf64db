#pragma once
// What the calendar module (libical behind it) offers the rest of the library, which loads it on
// first use.

#include "icalendar/icalendar.h"

namespace icalendar::backend {

// Raised whenever a member is added, removed or changes its type, or a struct it passes changes:
// a module from another build is then refused instead of called wrongly.
inline constexpr int kVersion = 3;

struct Api {
  int version = kVersion;
  ReadResult (*read)(const QByteArray& text, const ReadOptions& options);
  WriteResult (*write)(const std::vector<WriteEvent>& events, const WriteOptions& options);
};

inline constexpr const char* kModuleFile = "libicalendar-backend.so";
inline constexpr const char* kEntryPoint = "icalendar_backend_api";

// The module's halves.
ReadResult ReadWithLibical(const QByteArray& text, const ReadOptions& options);
WriteResult WriteWithLibical(const std::vector<WriteEvent>& events, const WriteOptions& options);

}  // namespace icalendar::backend
