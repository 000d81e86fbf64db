#include "tours/first_run.h"

#include "core/app_paths.h"

namespace chimewise {

std::optional<QString> FirstRunMarker(const QString& appFolder) {
  return FindPathNoCase(appFolder, QStringLiteral("CHIMINST.DLL"));
}

}  // namespace chimewise
