#pragma once
// A stand-in for the Options dialog with its parts under the object names the program's tours
// look for: the tab strip "tbsOptions" with the four tabs, and the controls of each tab.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <initializer_list>
#include <utility>
#include <vector>

namespace chimewise::testsupport {

class OptionsDialogDouble final : public QDialog {
 public:
  explicit OptionsDialogDouble(QWidget* parent = nullptr) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Options"));
    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tbsOptions"));
    page("Characters", {{"cmbCharacter", new QComboBox},
                        {"cmbSize", new QComboBox},
                        {"demoButton", new QPushButton(QStringLiteral("Demo"))},
                        {"downloadButton", new QPushButton(QStringLiteral("Download"))}});
    page("Time Announcements", {{"Check1", new QCheckBox(QStringLiteral("Announce the time"))},
                                {"cmbInterval", new QComboBox},
                                {"cmbTimes", new QComboBox},
                                {"cmbGestures", new QComboBox},
                                {"chkDayDate0", new QCheckBox(QStringLiteral("Include time of day"))},
                                {"chkDayDate1", new QCheckBox(QStringLiteral("Include day of Week"))},
                                {"chkDayDate2", new QCheckBox(QStringLiteral("Include date"))},
                                {"chkampm", new QCheckBox(QStringLiteral("am/pm"))},
                                {"chkTimeRange", new QCheckBox(QStringLiteral("Only announce the time between"))},
                                {"startPicker", new QTimeEdit},
                                {"endPicker", new QTimeEdit},
                                {"cmdTest", new QPushButton(QStringLiteral("Test"))}});
    page("Reminder Options", {{"chkShow", new QCheckBox},
                              {"chkNoSnore", new QCheckBox},
                              {"chkStartAtLogin", new QCheckBox},
                              {"chkShowFuture", new QCheckBox},
                              {"chkReadMemos", new QCheckBox},
                              {"chkReadActivity", new QCheckBox},
                              {"chkRemind", new QCheckBox},
                              {"waitText", new QLineEdit}});
    std::vector<std::pair<const char*, QWidget*>> mail = {{"chkCheckInterval", new QCheckBox},
                                                          {"txtInterval", new QLineEdit},
                                                          {"optRead0", new QCheckBox},
                                                          {"optRead1", new QCheckBox}};
    static const char* const kSayWhat[] = {"chkSayWhat0", "chkSayWhat1", "chkSayWhat2", "chkSayWhat3", "chkSayWhat4",
                                           "chkSayWhat5", "chkSayWhat6", "chkSayWhat7", "chkSayWhat8"};
    for (const char* name : kSayWhat) mail.push_back({name, new QCheckBox});
    mail.push_back({"mailbox", new QLineEdit});
    mail.push_back({"mailUser", new QLineEdit});
    page("Email Options", mail);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    for (const char* name : {"okButton", "cancelButton", "applyButton", "helpButton"}) {
      auto* b = new QPushButton(QString::fromLatin1(name));
      b->setObjectName(QString::fromLatin1(name));
      layout->addWidget(b);
    }
  }

  QTabWidget* tabs = nullptr;

 private:
  void page(const char* caption, const std::vector<std::pair<const char*, QWidget*>>& controls) {
    auto* p = new QWidget;
    auto* form = new QFormLayout(p);
    for (const auto& [name, w] : controls) {
      w->setObjectName(QString::fromLatin1(name));
      form->addRow(QString::fromLatin1(name), w);
    }
    tabs->addTab(p, QString::fromLatin1(caption));
  }
};

}  // namespace chimewise::testsupport
