// Worker processes for the concurrency stress test (stress_test.py).
//   xbase_stress init TABLE                 a new table with a memo field and a tag
//   xbase_stress append TABLE ID COUNT LOG
//       appends COUNT records named "<ID>-<n>" (with a memo) in shared use, deleting every
//       fourth one again; writes "A name" to LOG once a record's commit succeeded and
//       "D name" once its deletion did. Busy opens (a pack running) are retried.
//   xbase_stress pack TABLE STOP           packs in exclusive use, again and again
//   xbase_stress read TABLE STOP           reads every record again and again: a record is
//       blank or whole (its memo is "memo of <name>"), never half written
//   The packer and the reader stop after one last run once the file STOP exists.
// Any other failure ends the process with exit status 1 and a message.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "xbase/engine.h"

namespace {

int Die(const std::string& what, const xbase::Status& s) {
  std::fprintf(stderr, "xbase_stress %d: %s: %s\n", static_cast<int>(getpid()), what.c_str(), s.ToString().c_str());
  return 1;
}

// Opens the table, retrying while someone else has it in exclusive use (the test's timeout ends
// a wait without end).
xbase::Status Open(xbase::Engine& e, const std::string& table, xbase::OpenMode mode) {
  for (;;) {
    int area = 0;
    xbase::Status s = e.Use(table, "T", mode, &area);
    if (!s.IsBusy()) return s;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
}

int Append(const std::string& table, const std::string& id, int count, const std::string& log_path) {
  FILE* log = std::fopen(log_path.c_str(), "w");
  if (!log) return Die("open " + log_path, xbase::Status::IOError("fopen"));
  for (int n = 0; n < count;) {
    xbase::Engine e;
    xbase::Status s = Open(e, table, xbase::OpenMode::kShared);
    if (!s.ok()) return Die("open", s);
    xbase::WorkArea* wa = e.Current();
    // A few records per open, so the packer finds the table free now and then.
    for (int k = 0; k < 3 && n < count; ++k, ++n) {
      const std::string name = id + "-" + std::to_string(n);
      s = wa->AppendBlank();
      if (s.ok()) s = wa->Replace("NAME", name);
      if (s.ok()) s = wa->ReplaceMemo("NOTE", "memo of " + name);
      if (s.ok()) s = wa->Commit();
      if (!s.ok()) return Die("append " + name, s);
      std::fprintf(log, "A %s\n", name.c_str());
      std::fflush(log);
      if (n % 4 == 0) {
        s = wa->Delete();
        if (s.ok()) s = wa->Commit();
        if (!s.ok()) return Die("delete " + name, s);
        std::fprintf(log, "D %s\n", name.c_str());
        std::fflush(log);
      }
      s = wa->Unlock(0);
      if (!s.ok()) return Die("unlock", s);
    }
    s = e.CloseAll();
    if (!s.ok()) return Die("close", s);
    // A pause between opens lets the packer in often; opens then race the packs.
    std::this_thread::sleep_for(std::chrono::microseconds(1500));
  }
  std::fclose(log);
  return 0;
}

// Opens the table in `mode` and runs `work` on it, again and again until a last run after the file
// `stop` exists; `what` names the work in messages.
int Repeat(const std::string& table, xbase::OpenMode mode, const std::string& stop, const std::string& what,
           const std::function<xbase::Status(xbase::WorkArea*)>& work) {
  int runs = 0;
  for (bool last = false; !last; ++runs) {
    last = std::filesystem::exists(stop);
    xbase::Engine e;
    xbase::Status s = Open(e, table, mode);
    if (s.ok()) s = work(e.Current());
    if (s.ok()) s = e.CloseAll();
    if (!s.ok()) return Die(what, s);
    // A pause between opens lets the others in.
    std::this_thread::sleep_for(std::chrono::milliseconds(mode == xbase::OpenMode::kExclusive ? 5 : 3));
  }
  std::printf("%d %ss\n", runs, what.c_str());
  return 0;
}

int Pack(const std::string& table, const std::string& stop) {
  return Repeat(table, xbase::OpenMode::kExclusive, stop, "pack", [](xbase::WorkArea* wa) { return wa->Pack(); });
}

int Read(const std::string& table, const std::string& stop) {
  return Repeat(table, xbase::OpenMode::kShared, stop, "read", [](xbase::WorkArea* wa) {
    xbase::Status s;
    for (s = wa->GoTop(); s.ok() && !wa->Eof(); s = wa->Skip(1)) {
      std::string name, memo;
      if (!(s = wa->GetTrimString("NAME", &name)).ok() || !(s = wa->GetMemo("NOTE", &memo)).ok()) break;
      if (!name.empty() && memo != "memo of " + name) return xbase::Status::Corruption(name + " has memo " + memo);
    }
    return s;
  });
}

int Init(const std::string& table) {
  xbase::Status s = xbase::CreateTable(xbase::Env::Default(), table, {{"NAME", 'C', 24}, {"NOTE", 'M', 10}}, true);
  if (!s.ok()) return Die("create", s);
  xbase::Engine e;
  int area = 0;
  s = e.Use(table, "T", xbase::OpenMode::kExclusive, &area);
  if (s.ok()) s = e.Current()->IndexTag("NAME", "NAME", "!DELETED()");
  return s.ok() ? 0 : Die("tag", s);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "init" && argc == 3) return Init(argv[2]);
  if (mode == "append" && argc == 6) return Append(argv[2], argv[3], std::stoi(argv[4]), argv[5]);
  if (mode == "pack" && argc == 4) return Pack(argv[2], argv[3]);
  if (mode == "read" && argc == 4) return Read(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: xbase_stress init TABLE | append TABLE ID COUNT LOG | pack TABLE STOP | read TABLE STOP\n");
  return 64;
}
