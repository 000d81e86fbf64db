// The library's face: reading and writing go to the calendar module, loaded the first time one is
// asked for.

#include "backend.h"

#include <modules/Module.h>

namespace icalendar {

namespace {

const modules::Table<backend::Api>& TheBackend() {
  static const auto table =
      modules::LoadTable<backend::Api>(QString::fromLatin1(backend::kModuleFile), backend::kEntryPoint,
                                       backend::kVersion, QStringLiteral("the calendar reader"));
  return table;
}

}  // namespace

ReadResult Read(const QByteArray& text, const ReadOptions& options) {
  if (const auto* api = TheBackend().api) return api->read(text, options);
  ReadResult r;
  r.error = TheBackend().error;
  return r;
}

WriteResult Write(const std::vector<WriteEvent>& events, const WriteOptions& options) {
  if (const auto* api = TheBackend().api) return api->write(events, options);
  WriteResult r;
  r.error = TheBackend().error;
  return r;
}

}  // namespace icalendar
