#include "app_fixture.h"

#include <QFile>
#include <QFileInfo>

std::string WindowTest::ReadIni() const {
  QFile f(IniPath());
  if (!f.open(QIODevice::ReadOnly)) return std::string();
  return f.readAll().toStdString();
}

void WindowTest::WriteIni(const std::string& bytes) const {
  QFile f(IniPath());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

bool WindowTest::IniExists() const { return QFileInfo::exists(IniPath()); }

QString WindowTest::WriteFile(const QString& name, const std::string& bytes) const {
  const QString path = dir_.filePath(name);
  QFile f(path);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }
  return path;
}
