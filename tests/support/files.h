#pragma once
// Small file helpers for tests.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <gtest/gtest.h>

namespace chimewise::testsupport {

// Writes a file, making its folders first.
inline void Touch(const QString& path, const QByteArray& content = "x") {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  f.write(content);
}

// A file's bytes, or "<missing>".
inline QByteArray Slurp(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Copies the program's empty reminder table (with its memo file and index) into
// appFolder/data, writable, as the first start seeds it. The template comes from the source tree
// named by CHIMEWISE_SOURCE_DIR, which every test gets in its environment.
inline void CopyEmptyCalendar(const QString& appFolder) {
  const QString from = qEnvironmentVariable("CHIMEWISE_SOURCE_DIR") + QStringLiteral("/assets/data/");
  QDir().mkpath(appFolder + QStringLiteral("/data"));
  for (const char* f : {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"}) {
    const QString to = appFolder + QStringLiteral("/data/") + QLatin1String(f);
    ASSERT_TRUE(QFile::copy(from + QLatin1String(f), to)) << to.toStdString();
    QFile(to).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  }
}

}  // namespace chimewise::testsupport
