#include "modules/module.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <mutex>

#ifndef MODULES_RELATIVE_DIR
#define MODULES_RELATIVE_DIR ""
#endif
#ifndef MODULES_BUILD_DIR
#define MODULES_BUILD_DIR ""
#endif

namespace modules {

namespace {

// The folder of the running executable, from the kernel (argv[0] may say anything).
QString ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  path[n] = '\0';
  return QFileInfo(QString::fromLocal8Bit(path)).absolutePath();
}

bool IsRegularFile(const QByteArray& path) {
  struct stat st {};
  return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

QStringList SearchFolders() {
  QStringList folders;
  const QString relative = QStringLiteral(MODULES_RELATIVE_DIR);
  const QString program = ProgramFolder();
  if (!relative.isEmpty() && !program.isEmpty()) folders << QDir::cleanPath(program + u'/' + relative);
  const QString build = QStringLiteral(MODULES_BUILD_DIR);
  if (!build.isEmpty()) folders << build;
  return folders;
}

Loaded Load(const QString& fileName, const char* symbol) {
  // dlopen keeps its own count; the lock keeps two first uses from racing over the error text.
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  Loaded result;
  QStringList tried;
  for (const QString& folder : SearchFolders()) {
    const QByteArray path = QFile::encodeName(folder + u'/' + fileName);
    if (!IsRegularFile(path)) {
      tried << folder;
      continue;
    }
    void* handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      result.error = QStringLiteral("%1 could not be loaded: %2")
                         .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(why ? why : "unknown error"));
      return result;
    }
    ::dlerror();
    result.entry = ::dlsym(handle, symbol);
    if (!result.entry)
      result.error = QStringLiteral("%1 is not the module it should be (it has no %2)")
                         .arg(QString::fromLocal8Bit(path), QString::fromLatin1(symbol));
    // The module stays loaded: what it made (objects, threads of its libraries) may outlive
    // this call.
    return result;
  }
  result.error = QStringLiteral("%1 is missing (looked in %2)").arg(fileName, tried.join(QStringLiteral(", ")));
  return result;
}

}  // namespace modules
