// Worker processes for the concurrency stress test (stress_test.py).
//   xbase_stress init TABLE                 a new table with a memo field and a tag
//   xbase_stress append TABLE ID SECONDS LOG
//       appends records named "<ID>-<n>" (with a memo) in shared use, deleting every
//       fourth one again; writes "A name" to LOG once a record's commit succeeded and
//       "D name" once its deletion did. Busy opens (a pack running) are retried.
//   xbase_stress pack TABLE SECONDS        packs in exclusive use, again and again
//   xbase_stress read TABLE SECONDS        reads every record again and again: a record is
//       blank or whole (its memo is "memo of <name>"), never half written
// Any other failure ends the process with exit status 1 and a message.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "xbase/engine.h"

namespace {

using Clock = std::chrono::steady_clock;

int Die(const std::string& what, const xbase::Status& s) {
  std::fprintf(stderr, "xbase_stress %d: %s: %s\n", static_cast<int>(getpid()), what.c_str(), s.ToString().c_str());
  return 1;
}

// Opens the table, retrying while someone else has it in exclusive use.
xbase::Status Open(xbase::Engine& e, const std::string& table, xbase::OpenMode mode, Clock::time_point end) {
  for (;;) {
    int area = 0;
    xbase::Status s = e.Use(table, "T", mode, &area);
    if (!s.IsBusy() || Clock::now() >= end) return s;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
}

int Append(const std::string& table, const std::string& id, int seconds, const std::string& log_path) {
  FILE* log = std::fopen(log_path.c_str(), "w");
  if (!log) return Die("open " + log_path, xbase::Status::IOError("fopen"));
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  int n = 0;
  while (Clock::now() < end) {
    xbase::Engine e;
    xbase::Status s = Open(e, table, xbase::OpenMode::kShared, end);
    if (s.IsBusy()) break;  // the time ran out while a pack held the table
    if (!s.ok()) return Die("open", s);
    xbase::WorkArea* wa = e.Current();
    // A few records per open, so the packer finds the table free now and then.
    for (int k = 0; k < 3; ++k, ++n) {
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

// Opens the table in `mode` and runs `work` on it, again and again until `seconds` are up; `what`
// names the work in messages. At least one run must go through.
int Repeat(const std::string& table, xbase::OpenMode mode, int seconds, const std::string& what,
           const std::function<xbase::Status(xbase::WorkArea*)>& work) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  int runs = 0;
  while (Clock::now() < end) {
    xbase::Engine e;
    xbase::Status s = Open(e, table, mode, end);
    if (s.IsBusy()) break;
    if (s.ok()) s = work(e.Current());
    if (s.ok()) s = e.CloseAll();
    if (!s.ok()) return Die(what, s);
    ++runs;
    if (mode == xbase::OpenMode::kExclusive) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::printf("%d %ss\n", runs, what.c_str());
  return runs > 0 ? 0 : Die(what, xbase::Status::Busy("the table was never free"));
}

int Pack(const std::string& table, int seconds) {
  return Repeat(table, xbase::OpenMode::kExclusive, seconds, "pack", [](xbase::WorkArea* wa) { return wa->Pack(); });
}

int Read(const std::string& table, int seconds) {
  return Repeat(table, xbase::OpenMode::kShared, seconds, "read", [](xbase::WorkArea* wa) {
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
  if (mode == "pack" && argc == 4) return Pack(argv[2], std::stoi(argv[3]));
  if (mode == "read" && argc == 4) return Read(argv[2], std::stoi(argv[3]));
  std::fprintf(
      stderr,
      "usage: xbase_stress init TABLE | append TABLE ID SECONDS LOG | pack TABLE SECONDS | read TABLE SECONDS\n");
  return 64;
}
