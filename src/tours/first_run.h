#pragma once
// The first start after installation: the installation leaves a marker file (CHIMINST.DLL) in the
// application folder, and the start that finds it introduces the program and removes it, so the
// introduction runs once per installation.

#include <QString>
#include <functional>
#include <optional>

namespace chimewise {

// The marker in the application folder (any letter case), when it is there.
std::optional<QString> FirstRunMarker(const QString& appFolder);

// When the marker is there: runs `introduction`, then removes the marker; true. Otherwise false,
// and nothing runs.
bool IntroduceOnFirstStart(const QString& appFolder, const std::function<void()>& introduction);

}  // namespace chimewise
