#include "extras/programs.h"

#include "core/prompts.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cstring>

namespace chimewise {

namespace {

// Qt tells why a start failed only as text ("execv: Permission denied"); the system's number is
// recovered from the message's last part, so the user sees both as the program has always shown.
int errnoOf(const QString& message, int fallback) {
  const QString tail = message.section(QStringLiteral(": "), -1);
  for (int e = 1; e < 200; ++e)
    if (tail == QString::fromLocal8Bit(std::strerror(e))) return e;
  return fallback;
}

}  // namespace

QString FindSiblingProgram(const QString& folder, const QString& baseName) {
  if (folder.isEmpty() || baseName.isEmpty()) return {};
  const QDir dir(folder);
  const QStringList names = dir.entryList(QDir::Files | QDir::Executable | QDir::Hidden, QDir::Name);
  for (const QString& name : names) {
    if (name.compare(baseName, Qt::CaseInsensitive) != 0 &&
        name.compare(baseName + QStringLiteral(".EXE"), Qt::CaseInsensitive) != 0)
      continue;
    const QFileInfo info(dir.filePath(name));
    if (info.isFile() && info.isExecutable()) return info.absoluteFilePath();
  }
  return {};
}

LaunchResult StartDetached(const QString& program, const QStringList& arguments, const QString& workingFolder) {
  QProcess process;
  process.setProgram(program);
  process.setArguments(arguments);
  process.setWorkingDirectory(workingFolder);
  LaunchResult r;
  if (process.startDetached()) {
    r.started = true;
    return r;
  }
  r.description = process.errorString();
  r.number = errnoOf(r.description, static_cast<int>(process.error()));
  return r;
}

ProgramLauncher& SystemLauncher() {
  struct System final : ProgramLauncher {
    LaunchResult start(const QString& program, const QStringList& arguments, const QString& workingFolder) override {
      return StartDetached(program, arguments, workingFolder);
    }
  };
  static System system;
  return system;
}

bool LaunchSiblingProgram(const QString& appFolder, const QString& baseName, Prompter& prompter) {
  const QString program = FindSiblingProgram(appFolder, baseName);
  if (program.isEmpty()) return false;
  const LaunchResult r = StartDetached(program, {}, appFolder);
  if (r.started) return true;
  const QString name = baseName.compare(kMailcasterProgram, Qt::CaseInsensitive) == 0 ? QStringLiteral("Olm Mailcaster")
                                                                                      : QStringLiteral("Olm Jesterbox");
  prompter.notice(QStringLiteral("Error %1 %2 %3").arg(name).arg(r.number).arg(r.description),
                  QStringLiteral("Program Error"), PromptIcon::Information);
  return false;
}

const std::vector<SystemInfoProgram>& SystemInfoPrograms() {
  static const std::vector<SystemInfoProgram> kPrograms = {
      {QStringLiteral("hardinfo2"), {}},    // System Profiler and Benchmark, the maintained fork
      {QStringLiteral("hardinfo"), {}},     // its Debian 12 predecessor
      {QStringLiteral("kinfocenter"), {}},  // KDE's Info Center
      {QStringLiteral("cpu-x"), {}},        // processor, board, memory and system
      {QStringLiteral("xfce4-about"), {}},  // Xfce's About window, with its System page
      {QStringLiteral("gnome-control-center"), {QStringLiteral("info-overview")}},  // GNOME's About page
      {QStringLiteral("lshw-gtk"), {}},  // the hardware lister: complete only for root
  };
  return kPrograms;
}

QString FindSystemInfoProgram(QStringList* arguments) {
  for (const SystemInfoProgram& p : SystemInfoPrograms()) {
    const QString path = QStandardPaths::findExecutable(p.name);
    if (path.isEmpty()) continue;
    if (arguments) *arguments = p.arguments;
    return path;
  }
  return {};
}

void StartSysInfo(Prompter& prompter, ProgramLauncher& launcher) {
  QStringList arguments;
  const QString program = FindSystemInfoProgram(&arguments);
  bool started = false;
  if (!program.isEmpty()) started = launcher.start(program, arguments, QDir::homePath()).started;
  if (!started)
    prompter.notice(QStringLiteral("System Information Is Unavailable At This Time"),
                    QStringLiteral("System Information"), PromptIcon::None);
}

}  // namespace chimewise
