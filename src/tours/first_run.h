#pragma once
// The first start after installation: the installation leaves a marker file (CHIMINST.DLL) in the
// application folder; the start that finds it introduces the program and removes the marker, so
// the introduction runs once per installation.

#include <QString>
#include <optional>

namespace chimewise {

// The marker in the application folder (any letter case), when it is there.
std::optional<QString> FirstRunMarker(const QString& appFolder);

}  // namespace chimewise
