#pragma once
// The unread e-mail window ("Unread Email"): one row per message of a run on request, showing its
// subject. A click has the character read that message; closing the window deletes the message
// files. The Options button asks for the options on their mail tab (disabled when nothing answers).

#include "mail/mail_reader.h"

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <vector>

class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace chimewise {

class SpeakerPort;

// Speech text as a window shows it: what the tags show ("\map=".at."=" at "\" shows " at "),
// never the tags, gestures left out.
QString ShownText(const QString& speech);

// Where the window goes: right of the character when it fits on the screen, else left of it;
// moved up when it would reach below the screen.
QPoint EmailWindowPosition(const QRect& character, const QSize& window, const QRect& screen);

class EmailWindow final : public QWidget, public MailList {
  Q_OBJECT
 public:
  EmailWindow(SpeakerPort& speaker, MailReader& reader, QWidget* parent = nullptr);

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

 signals:
  // The Options button: the options dialog is to open on its mail tab. Not connected when the
  // window is shown: the button is disabled.
  void showOptions();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void onOptions();

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

// The unread e-mail window as the reader's list: made on first use and again after it was closed.
// While this exists it is its reader's list.
class EmailWindows final : public QObject, public MailList {
  Q_OBJECT
 public:
  EmailWindows(SpeakerPort& speaker, MailReader& reader);
  ~EmailWindows() override;
  EmailWindow* list();
  EmailWindow* current() const { return m_window; }

  // MailList: the window's, made first when there is none.
  void Load() override { list()->Load(); }
  int rowCount() const override { return m_window ? m_window->rowCount() : 0; }
  void AddRow(const MailRow& row) override { list()->AddRow(row); }
  void PlaceAndShow() override { list()->PlaceAndShow(); }

 signals:
  // As EmailWindow's: passed on from each window when connected here as it is made.
  void showOptions();

 private:
  SpeakerPort& m_speaker;
  MailReader& m_reader;
  QPointer<EmailWindow> m_window;
};

}  // namespace chimewise
