#pragma once
// The unread e-mail window ("Unread Email"): one row per message of a run on request, showing its
// subject. A click has the character read that message; closing the window deletes the message
// files. The Options button opens the options on their mail tab.

#include "mail/mail_reader.h"

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>
#include <vector>

class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace chimewise {

class SpeakerPort;
struct SharedState;

// Speech text as a window shows it: what the tags show ("\map=".at."=" at "\" shows " at "),
// never the tags, gestures left out.
QString ShownText(const QString& speech);

// Where the window goes: right of the character when it fits on the screen, else left of it;
// moved up when it would reach below the screen.
QPoint EmailWindowPosition(const QRect& character, const QSize& window, const QRect& screen);

class EmailWindow final : public QWidget, public MailList {
  Q_OBJECT
 public:
  EmailWindow(SharedState& state, SpeakerPort& speaker, MailReader& reader, QWidget* parent = nullptr);

  // MailList
  void Load() override;
  int rowCount() const override { return static_cast<int>(m_rows.size()); }
  void AddRow(const MailRow& row) override;
  void PlaceAndShow() override;

  // Reads the row aloud, only while the window is visible.
  void ReadRow(int row);
  const std::vector<MailRow>& rows() const { return m_rows; }
  QListWidget* listWidget() const { return m_list; }
  // The whole of the message last clicked, the part read aloud and the rest.
  QPlainTextEdit* messageView() const { return m_text; }
  QPushButton* optionsButton() const { return m_options; }
  QPushButton* closeButton() const { return m_close; }

  // Opens the options dialog on its mail tab (wired by the program).
  std::function<void()> showOptions;
  // The character's place on the screen, in pixels; invalid when unknown.
  std::function<QRect()> characterGeometry;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void onOptions();

  SharedState& m_state;
  SpeakerPort& m_speaker;
  MailReader& m_reader;
  QListWidget* m_list = nullptr;
  QPlainTextEdit* m_text = nullptr;
  QPushButton* m_options = nullptr;
  QPushButton* m_close = nullptr;
  std::vector<MailRow> m_rows;
  bool m_loaded = false;
  bool m_wasVisible = false;
};

// Makes the window on first use and again after it was closed; wire MailReader::list to list().
class EmailWindows {
 public:
  EmailWindows(SharedState& state, SpeakerPort& speaker, MailReader& reader)
      : m_state(state), m_speaker(speaker), m_reader(reader) {}
  ~EmailWindows();
  EmailWindow* list();
  EmailWindow* current() const { return m_window; }

  std::function<void()> showOptions;
  std::function<QRect()> characterGeometry;

 private:
  SharedState& m_state;
  SpeakerPort& m_speaker;
  MailReader& m_reader;
  QPointer<EmailWindow> m_window;
};

}  // namespace chimewise
