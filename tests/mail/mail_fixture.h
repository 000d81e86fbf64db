#pragma once
// A mail reader over a Maildir in a temporary folder, a pinned clock and a speaker that writes
// down what it is asked.

#include "character/speaker.h"
#include "core/clock.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "libs/mailbox/sample_messages.h"
#include "mail/mail_account.h"
#include "mail/mail_reader.h"

#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <map>

namespace chimewise::testing {

// A secret store that holds what it was given, or plays none at all.
class MemoryVault final : public PasswordVault {
 public:
  Lookup Find(const QString& server, const QString& user) override {
    if (!available) return {};
    auto it = kept.find(server + '|' + user);
    return {true, it == kept.end() ? std::nullopt : std::optional(it->second)};
  }
  bool Keep(const QString& server, const QString& user, const QString& password) override {
    if (!available) return false;
    kept[server + '|' + user] = password;
    return true;
  }
  bool available = true;
  std::map<QString, QString> kept;
};

// The rows the window would show; with `countTurns`, how many turns of the event loop they came in.
class RowList final : public MailList {
 public:
  void Load() override { ++loads; }
  int rowCount() const override { return static_cast<int>(rows.size()); }
  void AddRow(const MailRow& row) override {
    rows.push_back(row);
    if (!countTurns || std::exchange(pending, true)) return;
    QTimer::singleShot(0, [this] {
      pending = false;
      ++turns;
    });
  }
  void PlaceAndShow() override { ++shown; }
  std::vector<MailRow> rows;
  int loads = 0, shown = 0, turns = 0;
  bool countTurns = false, pending = false;
};

class MailFixture : public ::testing::Test {
 protected:
  MailFixture() {
    settings.write(settings::Mailbox, md.folder());
    speaker.showAndHide = true;
    reader =
        std::make_unique<MailReader>(state, settings, clock, speaker, account, MessageFiles(dir.filePath("NewMail")));
    reader->setSynchronous(true);
    reader->list = [this]() -> MailList* { return &rows; };
    reader->stopAll = [this] { ++stops; };
  }
  QStringList said() const {
    QStringList out;
    for (const QString& l : speaker.lines)
      if (l.startsWith("Speak: ")) out << l.mid(7);
    return out;
  }

  QTemporaryDir dir;
  mailbox::testing::Maildir md{dir.filePath("Maildir")};
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ManualClock clock{QDateTime(QDate(2026, 12, 6), QTime(10, 41, 37))};
  TranscriptSpeaker speaker;
  MemoryVault vault;
  MailAccount account{settings, vault};
  RowList rows;
  int stops = 0;
  std::unique_ptr<MailReader> reader;
};

}  // namespace chimewise::testing
