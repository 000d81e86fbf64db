#pragma once
// The Options dialog as the rest of the program opens it: created when shown, not modal, and
// destroyed when closed; a second request while it is open only brings it to the front. The open
// dialog's news and requests (OptionsDialog's signals) come from here, whichever dialog it was.

#include "options/options_dialog.h"

#include <QPointer>

namespace chimewise {

class OptionsWindows final : public QObject {
  Q_OBJECT
 public:
  // Everything in `context` is owned by the program and outlives this object.
  explicit OptionsWindows(OptionsContext context);
  ~OptionsWindows();
  OptionsWindows(const OptionsWindows&) = delete;
  OptionsWindows& operator=(const OptionsWindows&) = delete;

  // Opens the dialog (or brings the open one to the front, restored from minimized).
  void ShowOptions();
  // Closes an open dialog as Cancel does (its closing stores still happen).
  void CloseOptions();

  // The open dialog, null when none (for the tours and tests).
  OptionsDialog* dialog() const { return m_dialog.data(); }
  OptionsContext& context() { return m_ctx; }

 signals:
  // As OptionsDialog's of the same names.
  void showFutureApplied(bool showFuture);
  void announcementIntervalApplied(int intervalPosition);
  void mailIntervalApplied(int minutes);
  void syncPasswordTyped(const QString& server, const QString& user, const QString& password);
  // As OptionsDialog's of the same names (the tour with the dialog it is to run over). Passed on
  // only when connected here when the dialog opens: a dialog whose request nothing answers leaves
  // it out (no tour; help pages open in the desktop's viewer).
  void tourWanted(chimewise::OptionsDialog* dialog, int section);
  void openDocument(const QString& path);

 private:
  OptionsContext m_ctx;
  QPointer<OptionsDialog> m_dialog;
};

}  // namespace chimewise
