// Worker processes for stress_test.py:
//   xbase_stress init TABLE                  a new table with a memo field and a tag
//   xbase_stress append TABLE ID COUNT LOG   appends COUNT records "<ID>-<n>" with memos in shared use,
//       deleting every fourth again; logs "A name" once a commit succeeded, "D name" once a deletion did
//   xbase_stress pack TABLE STOP             packs in exclusive use, again and again
//   xbase_stress read TABLE STOP             reads every record again and again: each is blank or whole
// The packer and the reader stop after one last run once the file STOP exists. Any failure: exit 1.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "xbase/engine.h"

namespace {

using xbase::Status;

int Die(const std::string& what, const Status& s) {
  std::fprintf(stderr, "xbase_stress %d: %s: %s\n", static_cast<int>(getpid()), what.c_str(), s.ToString().c_str());
  return 1;
}

// Opens the table, retrying while someone else has it in exclusive use.
Status Open(xbase::Engine& e, const std::string& table, xbase::OpenMode mode) {
  for (;;) {
    int area = 0;
    Status s = e.Use(table, "T", mode, &area);
    if (!s.IsBusy()) return s;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
}

int Append(const std::string& table, const std::string& id, int count, const std::string& log_path) {
  FILE* log = std::fopen(log_path.c_str(), "w");
  if (!log) return Die("open " + log_path, Status::IOError("fopen"));
  for (int n = 0; n < count;) {
    xbase::Engine e;
    Status s = Open(e, table, xbase::OpenMode::kShared);
    xbase::WorkArea* wa = e.Current();
    for (int k = 0; s.ok() && k < 3 && n < count; ++k, ++n) {  // a few per open: the packer gets in between
      const std::string name = id + "-" + std::to_string(n);
      s = wa->AppendBlank();
      if (s.ok()) s = wa->Replace("NAME", name);
      if (s.ok()) s = wa->ReplaceMemo("NOTE", "memo of " + name);
      if (s.ok()) s = wa->Commit();
      if (!s.ok()) return Die("append " + name, s);
      std::fprintf(log, "A %s\n", name.c_str());
      if (n % 4 == 0) {
        s = wa->Delete();
        if (s.ok()) s = wa->Commit();
        if (!s.ok()) return Die("delete " + name, s);
        std::fprintf(log, "D %s\n", name.c_str());
      }
      std::fflush(log);
      s = wa->Unlock(0);
    }
    if (s.ok()) s = e.CloseAll();
    if (!s.ok()) return Die("append", s);
    std::this_thread::sleep_for(std::chrono::microseconds(1500));  // opens race the packs
  }
  std::fclose(log);
  return 0;
}

// Opens the table in `mode` and runs `work` on it until a last run after the file `stop` exists.
int Repeat(const std::string& table, xbase::OpenMode mode, const std::string& stop, const std::string& what,
           const std::function<Status(xbase::WorkArea*)>& work) {
  int runs = 0;
  for (bool last = false; !last; ++runs) {
    last = std::filesystem::exists(stop);
    xbase::Engine e;
    Status s = Open(e, table, mode);
    if (s.ok()) s = work(e.Current());
    if (s.ok()) s = e.CloseAll();
    if (!s.ok()) return Die(what, s);
    std::this_thread::sleep_for(std::chrono::milliseconds(mode == xbase::OpenMode::kExclusive ? 5 : 3));
  }
  std::printf("%d %ss\n", runs, what.c_str());
  return 0;
}

Status ReadAll(xbase::WorkArea* wa) {
  Status s;
  for (s = wa->GoTop(); s.ok() && !wa->Eof(); s = wa->Skip(1)) {
    std::string name, memo;
    if (!(s = wa->GetTrimString("NAME", &name)).ok() || !(s = wa->GetMemo("NOTE", &memo)).ok()) break;
    if (!name.empty() && memo != "memo of " + name) return Status::Corruption(name + " has memo " + memo);
  }
  return s;
}

int Init(const std::string& table) {
  Status s = xbase::CreateTable(xbase::Env::Default(), table, {{"NAME", 'C', 24}, {"NOTE", 'M', 10}}, true);
  xbase::Engine e;
  int area = 0;
  if (s.ok()) s = e.Use(table, "T", xbase::OpenMode::kExclusive, &area);
  if (s.ok()) s = e.Current()->IndexTag("NAME", "NAME", "!DELETED()");
  return s.ok() ? 0 : Die("init", s);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "init" && argc == 3) return Init(argv[2]);
  if (mode == "append" && argc == 6) return Append(argv[2], argv[3], std::stoi(argv[4]), argv[5]);
  if (mode == "pack" && argc == 4)
    return Repeat(argv[2], xbase::OpenMode::kExclusive, argv[3], "pack",
                  [](xbase::WorkArea* wa) { return wa->Pack(); });
  if (mode == "read" && argc == 4) return Repeat(argv[2], xbase::OpenMode::kShared, argv[3], "read", ReadAll);
  std::fprintf(stderr, "usage: see stress_helper.cpp\n");
  return 64;
}
