// The next joke or quote: the walk, the stored place, missing, empty or damaged tables, the source.
#include "extras/jokes.h"

#include "character/transcript_speaker.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "data/calendar.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;
using chimewise::testsupport::Slurp;

namespace {

class JokesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    app = dir.filePath("app");
    QDir().mkpath(app);
    data::ApplyStartupSettings(engine);
  }

  // A table whose record n (from 1) has the kind kinds[n-1] and the text "Record n".
  void makeTable(const QStringList& kinds) {
    std::vector<JokeRecord> records;
    for (int i = 0; i < kinds.size(); ++i) records.push_back({kinds[i], QStringLiteral("Record %1").arg(i + 1)});
    ASSERT_TRUE(WriteJokesTable(app + "/JOKES.dbf", records).ok());
  }

  // Tells one; returns the record spoken (0 for none) after checking that exactly its text was said.
  std::uint32_t tell() {
    speaker.lines.clear();
    last = TellJokeOrQuote(engine, settings, speaker, app);
    EXPECT_EQ(engine.WorkAreaOf("JOKES"), 0) << "the table is closed after each request";
    if (!last.told) {
      EXPECT_TRUE(speaker.lines.isEmpty());
      return 0;
    }
    EXPECT_EQ(speaker.lines, QStringList{QStringLiteral("Speak: Record %1").arg(last.record)});
    return last.record;
  }

  QString nextRec() { return settings.read(kJokesTable, settings::NextRecKey, "<absent>"); }

  QTemporaryDir dir;
  QString app;
  xbase::Engine engine;
  SettingsStore settings{dir.filePath("settings.ini")};
  TranscriptSpeaker speaker;
  JokeOutcome last;
};

}  // namespace

TEST_F(JokesTest, WalksTheTableInOrderPassingOverOtherKindsAndWrapping) {
  // Records 5 and 6 are of another kind, 7 a quote (kinds in any case): "5" tells 7 and goes on at 8.
  makeTable({"JOKE", "JOKE", "JOKE", "JOKE", "RIDDLE", "", "Quote", "joke"});
  settings.write(kJokesTable, settings::NextRecKey, "5");
  EXPECT_EQ(tell(), 7u);
  EXPECT_EQ(nextRec(), "8");
  // The last record is a joke: told, and the place becomes the count + 1, so the next wraps to 1.
  EXPECT_EQ(tell(), 8u);
  EXPECT_EQ(nextRec(), "9");
  EXPECT_EQ(tell(), 1u);
  EXPECT_EQ(nextRec(), "2");

  // Nothing told from the place to the end: record 1 is spoken whatever its kind. The table written
  // anew is read afresh, though an earlier run left the old one open.
  ASSERT_NE(data::OpenTable(engine, app + "/JOKES.dbf", "JOKES", data::kModeShared), 0);
  makeTable({"NOTE", "JOKE", "NOTE", "NOTE"});
  settings.write(kJokesTable, settings::NextRecKey, "3");
  EXPECT_EQ(tell(), 1u);
  EXPECT_EQ(nextRec(), "2");
}

// Jokes in any script: a collection that needs more than Windows-1252 makes a UTF-8 table (told
// so by its code page file) and is told as written; one that does not stays Windows-1252, and
// written again it leaves no code page file behind.
TEST_F(JokesTest, JokesInAnyScriptAreToldAsWritten) {
  const QString owl = QString::fromUtf8("Сова говорит: ωωω 🦉 フクロウ");
  ASSERT_TRUE(WriteJokesTable(app + "/JOKES.dbf", {{"JOKE", owl}}).ok());
  EXPECT_TRUE(QFileInfo::exists(app + "/JOKES.cpg"));
  speaker.lines.clear();
  EXPECT_TRUE(TellJokeOrQuote(engine, settings, speaker, app).told);
  EXPECT_EQ(speaker.lines, QStringList{"Speak: " + owl});
  makeTable({"JOKE"});
  EXPECT_FALSE(QFileInfo::exists(app + "/JOKES.cpg"));
  EXPECT_EQ(tell(), 1u);
}

TEST_F(JokesTest, TheStoredPlaceIsReadAsAWholeNumber) {
  makeTable({"JOKE", "JOKE", "JOKE", "JOKE"});
  const std::vector<std::pair<QString, std::uint32_t>> cases = {{"<absent>", 1},    {"3", 3},    {" 2 ", 2}, {"2.6", 3},
                                                                {"4th", 4},         {"0", 1},    {"-3", 1},  {"5", 1},
                                                                {"99999999999", 1}, {"soon", 1}, {"", 1}};
  for (const auto& [stored, expected] : cases) {
    if (stored == "<absent>")
      QFile::remove(settings.filePath());
    else
      settings.write(kJokesTable, settings::NextRecKey, stored);
    EXPECT_EQ(tell(), expected) << stored.toStdString();
    EXPECT_EQ(nextRec(), QString::number(expected + 1)) << stored.toStdString();
  }
}

TEST_F(JokesTest, DeletedRecordsAreNotTold) {
  const auto remove = [this](std::initializer_list<uint32_t> recnos) {
    xbase::Engine writer;
    int area = 0;
    ASSERT_TRUE(writer.Use((app + "/JOKES.dbf").toStdString(), "W", xbase::OpenMode::kExclusive, &area).ok());
    for (uint32_t r : recnos) {
      ASSERT_TRUE(writer.Area(area)->Go(r).ok());
      ASSERT_TRUE(writer.Area(area)->Delete().ok());
    }
    ASSERT_TRUE(writer.CloseAll().ok());
  };
  makeTable({"JOKE", "JOKE", "JOKE"});
  remove({2});
  settings.write(kJokesTable, settings::NextRecKey, "2");
  EXPECT_EQ(tell(), 3u);
  // The wrap finds record 1 deleted: the first one left is told.
  makeTable({"JOKE", "NOTE", "NOTE", "JOKE"});
  remove({1, 4});
  EXPECT_EQ(tell(), 2u);
  EXPECT_EQ(nextRec(), "3");
  remove({2, 3});
  EXPECT_EQ(tell(), 0u);
  EXPECT_EQ(nextRec(), "3");
}

TEST_F(JokesTest, AMissingOrEmptyTableSaysNothingAndKeepsThePlace) {
  settings.write(kJokesTable, settings::NextRecKey, "3");
  for (const bool empty : {false, true}) {
    if (empty) makeTable({});
    EXPECT_EQ(tell(), 0u);
    EXPECT_TRUE(last.problem.ok());
    EXPECT_EQ(nextRec(), "3");
  }
  // The table's name is matched without regard to letter case.
  makeTable({"JOKE", "JOKE", "JOKE"});
  ASSERT_TRUE(QFile::rename(app + "/JOKES.dbf", app + "/jokes.dbf"));
  ASSERT_TRUE(QFile::rename(app + "/JOKES.fpt", app + "/jokes.fpt"));
  EXPECT_EQ(tell(), 3u);
}

TEST_F(JokesTest, ADamagedTableIsToldAndNothingIsLost) {
  makeTable({"JOKE", "JOKE", "JOKE"});
  const QString table = app + "/JOKES.dbf", memo = app + "/JOKES.fpt";
  const QByteArray goodMemo = Slurp(memo);
  struct Damage {
    const char* what;
    QString file;
    QByteArray bytes;
    QString where;  // the message names the record when only it is unreadable
    const char* next;
  };
  const std::vector<Damage> damages = {
      {"not a table at all", table, QByteArray("This is not a table, it is a shopping list.\n").repeated(3), "", "2"},
      // Record 2's text cannot be read: the next request goes on past it.
      {"the memo file cut short", memo, goodMemo.left(520), "Corruption: record 2: ", "3"},
      {"a table without the memo field", table, {}, "", "2"},
  };
  for (const Damage& d : damages) {
    makeTable({"JOKE", "JOKE", "JOKE"});
    if (d.bytes.isEmpty()) {
      QFile::remove(table);
      QFile::remove(memo);
      ASSERT_TRUE(xbase::CreateTable(engine.env(), table.toStdString(), {{"TYPE", 'C', 10}, {"TEXT", 'C', 80}}).ok());
    } else {
      QFile f(d.file);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(d.bytes);
    }
    const QByteArray before = Slurp(table) + Slurp(memo);
    settings.write(kJokesTable, settings::NextRecKey, "2");
    EXPECT_EQ(tell(), 0u) << d.what;
    EXPECT_EQ(last.problem.kind, ProblemKind::Engine) << d.what;
    const QString text = Describe(last.problem).text;
    EXPECT_TRUE(text.startsWith("Error reading the jokes table " + table + ": " + d.where)) << text.toStdString();
    EXPECT_EQ(nextRec(), d.next) << d.what;
    EXPECT_EQ(Slurp(table) + Slurp(memo), before) << d.what << ": the files are as they were";
  }
  // Mended, the table is told from where it was.
  makeTable({"JOKE", "JOKE", "JOKE"});
  EXPECT_EQ(tell(), 2u);
}

TEST(JokeSource, RecordsAreBlocksOfAKindAndItsText) {
  std::vector<JokeRecord> records;
  const Problem read = ParseJokeSource(
      "# a comment\n\nJOKE\nWhy did the clock\r\n  stop? \\pl=Think\\ \n\n\n"
      "QUOTE\nOne line.\n# not a comment inside a record\nNOTE\nKept too.",
      &records);
  ASSERT_TRUE(read.ok()) << Describe(read).text.toStdString();
  // A block runs to the next blank line, whatever its lines look like.
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], (JokeRecord{"JOKE", "Why did the clock stop? \\pl=Think\\"}));
  EXPECT_EQ(records[1], (JokeRecord{"QUOTE", "One line. # not a comment inside a record NOTE Kept too."}));

  const std::vector<std::pair<QString, QString>> faults = {
      {"JOKE\nfine\n\nQUOTE\n\nJOKE\nx", "line 4: the QUOTE has no text"},
      {"\n\njoke\nlower case", "line 3: a record starts with its kind"},
  };
  for (const auto& [source, message] : faults) {
    const QString error = Describe(ParseJokeSource(source, &records)).text;
    EXPECT_TRUE(error.startsWith(message)) << source.toStdString() << ": " << error.toStdString();
  }
}
