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

namespace xbase {

constexpr uint8_t kVersionNoMemo = 0x03;
constexpr uint8_t kVersionFoxMemo = 0xF5;

class DbfFile {
 public:
  static Status Open(Env* env, const std::string& path, bool read_only, std::unique_ptr<DbfFile>* out);
  // Builds the header bytes for a new table (with the 0x0D terminator).
  static std::string BuildHeader(const std::vector<FieldDef>& fields, uint32_t record_count);

  File* file() { return file_.get(); }
  const std::string& path() const { return path_; }
  const std::vector<FieldRef>& fields() const { return fields_; }
  std::vector<FieldDef> specs() const;
  int FieldIndex(std::string_view name) const;  // -1 when absent; name case-insensitive
  bool has_memo() const { return has_memo_; }
  uint32_t header_length() const { return header_length_; }
  uint32_t record_length() const { return record_length_; }
  uint32_t record_count() const { return record_count_; }

  // Re-reads the record count from the header (another process may have appended)
  // and checks the file still holds that many records.
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
  bool has_memo_ = false;
  uint8_t version_ = 0;
  uint32_t header_length_ = 0;
  uint32_t record_length_ = 0;
  uint32_t record_count_ = 0;
};

class MemoFile {
 public:
  static constexpr uint32_t kHeaderSize = 512;
  static Status Open(Env* env, const std::string& path, bool read_only, std::unique_ptr<MemoFile>* out);
  static Status Create(Env* env, const std::string& path, uint32_t block_size);

  // Reads the text stored at `block`. Block 0 means no memo.
  Status Read(uint32_t block, std::string* text);
  // Appends `text` at the next free block (re-read from the header, so this must
  // run under the table's write lock) and returns its block number.
  Status Append(std::string_view text, uint32_t* block);
  uint32_t block_size() const { return block_size_; }
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
