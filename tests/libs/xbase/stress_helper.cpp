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

int Pack(const std::string& table, int seconds) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  int packs = 0;
  while (Clock::now() < end) {
    xbase::Engine e;
    xbase::Status s = Open(e, table, xbase::OpenMode::kExclusive, end);
    if (s.IsBusy()) break;
    if (!s.ok()) return Die("open for pack", s);
    s = e.Current()->Pack();
    if (!s.ok()) return Die("pack", s);
    ++packs;
    s = e.CloseAll();
    if (!s.ok()) return Die("close after pack", s);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::printf("%d packs\n", packs);
  return packs > 0 ? 0 : Die("pack", xbase::Status::Busy("the table was never free for a pack"));
}

int Read(const std::string& table, int seconds) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  int passes = 0;
  while (Clock::now() < end) {
    xbase::Engine e;
    xbase::Status s = Open(e, table, xbase::OpenMode::kShared, end);
    if (s.IsBusy()) break;
    if (!s.ok()) return Die("open for reading", s);
    xbase::WorkArea* wa = e.Current();
    for (s = wa->GoTop(); s.ok() && !wa->Eof(); s = wa->Skip(1)) {
      std::string name, memo;
      if (!(s = wa->GetTrimString("NAME", &name)).ok() || !(s = wa->GetMemo("NOTE", &memo)).ok()) break;
      if (!name.empty() && memo != "memo of " + name) return Die("read " + name, xbase::Status::Corruption(memo));
    }
    if (!s.ok()) return Die("read", s);
    s = e.CloseAll();
    if (!s.ok()) return Die("close after reading", s);
    ++passes;
  }
  return passes > 0 ? 0 : Die("read", xbase::Status::Busy("the table was never free for a read"));
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
