// libFuzzer target for everything that reads untrusted bytes: the table header
// and records, memo blocks, index pages, and expression texts.
//
// Input: first byte selects the mode.
//   even: three files. Bytes 1-2 and 3-4 (little-endian) are the lengths of the
//         table and memo parts; the rest is the index file.
//   odd:  an expression compiled against a fixed table and evaluated.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "xbase/engine.h"

namespace {

// Never destroyed, so the exit handler that removes the files can still use it.
const std::string& Dir() {
  static const std::string* dir = [] {
    char tmpl[] = "/tmp/xbase-fuzz-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (d == nullptr) std::abort();
    auto* path = new std::string(d);
    std::atexit([] {
      for (const char* f : {"/F.DBF", "/F.FPT", "/F.CDX"}) std::remove((Dir() + f).c_str());
      rmdir(Dir().c_str());
    });
    return path;
  }();
  return *dir;
}

void Write(const std::string& path, const uint8_t* p, size_t n) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
}

void Exercise(const std::string& table) {
  xbase::Engine e;
  e.settings().hide_deleted = false;
  e.settings().lock_wait_ms = 0;
  int area = 0;
  if (!e.Use(table, "F", xbase::OpenMode::kShared, &area).ok()) return;
  xbase::WorkArea* wa = e.Current();
  const auto fields = wa->Fields();
  for (int order = 0; order <= static_cast<int>(wa->Tags().size()) && order < 4; ++order) {
    if (!wa->SetOrder(order).ok()) continue;
    xbase::Status s = wa->GoTop();
    for (int guard = 0; s.ok() && !wa->Eof() && guard < 50; ++guard) {
      std::string text;
      int64_t n;
      for (const auto& f : fields) {
        if (f.type == 'M')
          (void)wa->GetMemo(f.name, &text);
        else
          (void)wa->GetString(f.name, &text);
        if (f.type == 'D') (void)wa->GetDateString(f.name, &text);
        if (f.type == 'N') (void)wa->GetInteger(f.name, &n);
      }
      for (const auto& t : wa->Tags()) {
        xbase::Value v;
        (void)wa->KeyValue(t.name, &v);
      }
      s = wa->Skip(1);
    }
    if (order > 0) (void)wa->Seek("2026");
    s = wa->GoBottom();
    for (int guard = 0; s.ok() && !wa->Bof() && !wa->Eof() && guard < 20; ++guard) s = wa->Skip(-1);
  }
  (void)wa->Skip(-1);
  std::vector<std::string> report;
  (void)wa->Check(&report);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string table = Dir() + "/F.DBF";
  if (data[0] % 2 == 0) {
    if (size < 5) return 0;
    size_t dbf_len = data[1] | (data[2] << 8);
    size_t fpt_len = data[3] | (data[4] << 8);
    const uint8_t* p = data + 5;
    size_t rest = size - 5;
    dbf_len = std::min(dbf_len, rest);
    fpt_len = std::min(fpt_len, rest - dbf_len);
    Write(table, p, dbf_len);
    Write(Dir() + "/F.FPT", p + dbf_len, fpt_len);
    Write(Dir() + "/F.CDX", p + dbf_len + fpt_len, rest - dbf_len - fpt_len);
    Exercise(table);
    return 0;
  }
  std::vector<xbase::FieldRef> fields = {
      {"NAME", 'C', 0, 10, 0}, {"WHEN", 'D', 10, 8, 0}, {"MINUTES", 'N', 18, 4, 0}, {"FLAG", 'L', 22, 1, 0}};
  std::string rec = " abc       20261206 600T";
  std::unique_ptr<xbase::CompiledExpr> key;
  (void)xbase::CompiledExpr::Compile("dtos(WHEN)+str(MINUTES,4,0)", fields, "", nullptr, &key);
  xbase::TagResolver tags = [&](std::string_view) { return key.get(); };
  std::unique_ptr<xbase::CompiledExpr> e;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (xbase::CompiledExpr::Compile(text, fields, "F", tags, &e).ok()) {
    xbase::Value v;
    e->Evaluate(xbase::RecordView{rec.data(), 1}, &v);
  }
  return 0;
}
