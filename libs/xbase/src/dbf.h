// FoxPro 2.x table (.DBF) and memo (.FPT) files. The layouts are described in
// README.md ("Table file", "Memo file").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xbase/env.h"
#include "xbase/expr.h"
#include "xbase/schema.h"
#include "xbase/text.h"

namespace xbase {

constexpr uint8_t kVersionNoMemo = 0x03;
constexpr uint8_t kVersionFoxMemo = 0xF5;

class DbfFile {
 public:
  // Opens the file and reads its header. Only for files nobody else writes (a
  // pack's own output); shared tables go through Load under the table lock.
  static Status Open(Env* env, const std::string& path, bool read_only, std::unique_ptr<DbfFile>* out);
  // Reads the header of an open table file. The caller holds the table lock (or
  // sole use), so size and header are read from one state of the file.
  static Status Load(const std::string& path, std::unique_ptr<File> file, std::unique_ptr<DbfFile>* out);
  // Builds the header bytes for a new table (with the 0x0D terminator).
  static std::string BuildHeader(const std::vector<FieldDef>& fields, uint32_t record_count);
  // The header as it was found (version, flags, code page mark, field descriptors and
  // whatever another program keeps after the field list), with `record_count` and
  // today's date: what a rewrite of the table (a pack) puts in front of its records, so
  // that nothing another program relies on changes.
  std::string HeaderWithCount(uint32_t record_count) const;

  File* file() { return file_.get(); }
  const std::string& path() const { return path_; }
  const std::vector<FieldRef>& fields() const { return fields_; }
  std::vector<FieldDef> specs() const;
  // The position of the field called `name` (ASCII letters in any case): -1 when no
  // field has it, kAmbiguousField when more than one does (fields are told apart by
  // position then).
  static constexpr int kAmbiguousField = -2;
  int FieldIndex(std::string_view name) const;
  // A field name as the table keeps it: ASCII letters in upper case, two-byte characters of
  // the mark's code page untouched.
  std::string UpperName(std::string_view name) const;
  // The code page mark (header byte 29) as found; 0x00 when the writer set none.
  uint8_t code_page_mark() const { return static_cast<uint8_t>(raw_header_[29]); }
  bool has_memo() const { return has_memo_; }
  uint32_t header_length() const { return header_length_; }
  uint32_t record_length() const { return record_length_; }
  uint32_t record_count() const { return record_count_; }
  // Whole records the file's length makes room for.
  uint32_t RecordsIn(uint64_t size) const {
    if (size <= header_length_) return 0;
    uint64_t n = (size - header_length_) / record_length_;
    return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n);
  }
  // Set when the header's record count disagreed with the file's length: the count the
  // header claimed. The table then goes by the whole records the file holds.
  bool count_repaired() const { return count_repaired_; }
  uint32_t claimed_count() const { return claimed_count_; }

  // Re-reads the record count from the header (another process may have appended).
  // A count that disagrees with the file's length is damage: the records the file
  // holds count, and count_repaired() tells. Call under the table lock.
  Status RefreshCount();
  Status ReadRecord(uint32_t recno, std::string* buf);
  // Reads records first..first+n-1 into buf (n * record_length bytes).
  Status ReadRecords(uint32_t first, uint32_t n, std::string* buf);
  Status WriteRecord(uint32_t recno, std::string_view rec);
  // Writes the record count and today's date into the header and the end-of-file byte.
  Status WriteCount(uint32_t count);
  std::string BlankRecord() const;

 private:
  std::string path_;
  std::unique_ptr<File> file_;
  std::vector<FieldRef> fields_;
  std::vector<bool> shared_name_;  // per field: another field has the same name
  std::string raw_header_;         // header_length_ bytes as read
  std::string name_page_;          // the code page the mark names (Windows-1252 for none)
  bool has_memo_ = false;
  uint8_t version_ = 0;
  uint32_t header_length_ = 0;
  uint32_t record_length_ = 0;
  uint32_t record_count_ = 0;
  uint32_t header_count_ = 0;  // the count last read from the header, right or not
  bool count_repaired_ = false;
  uint32_t claimed_count_ = 0;
  // Settles record_count_ from a header count and the file's size.
  void SettleCount(uint32_t header_count, uint64_t size);
};

class MemoFile {
 public:
  static constexpr uint32_t kHeaderSize = 512;
  static Status Open(Env* env, const std::string& path, bool read_only, std::unique_ptr<MemoFile>* out);
  static Status Create(Env* env, const std::string& path, uint32_t block_size);

  // Reads the text stored at `block`. Block 0 means no memo.
  Status Read(uint32_t block, std::string* text);
  // Appends `text` at the end of the file (its size is read afresh, so this must run
  // under the table's write lock), moves the header's next-free pointer past it and
  // returns its first block number.
  Status Append(std::string_view text, uint32_t* block);
  uint32_t block_size() const { return block_size_; }
  // Checks the header's next-free pointer against the file: a pointer into the
  // header or past the end of the file is damage (Corruption).
  Status CheckHeader();
  File* file() { return file_.get(); }

 private:
  std::unique_ptr<File> file_;
  std::string path_;
  uint32_t block_size_ = 64;
};

// Memo pointer in a record: ten ASCII digits, blanks or zero for none.
Status ParseMemoPointer(std::string_view raw, uint32_t* block);
std::string FormatMemoPointer(uint32_t block, uint32_t width);

}  // namespace xbase
