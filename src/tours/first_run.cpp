#include "tours/first_run.h"

#include "core/app_paths.h"

#include <QFile>

namespace chimewise {

std::optional<QString> FirstRunMarker(const QString& appFolder) {
  return FindPathNoCase(appFolder, QStringLiteral("CHIMINST.DLL"));
}

bool IntroduceOnFirstStart(const QString& appFolder, const std::function<void()>& introduction) {
  const auto marker = FirstRunMarker(appFolder);
  if (!marker) return false;
  if (introduction) introduction();
  QFile::remove(*marker);
  return true;
}

}  // namespace chimewise
