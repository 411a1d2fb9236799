#include "app/settings.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <string>

#include "app/spin_edit.h"
#include "platform/ini/ini_file.h"
#include "platform/text/cp1252.h"
#include "platform/text/strtoint.h"

const char* const kSettingsFileName = "Parametrage.ini";
const char* const kSettingsSection = "TELNET";

namespace {
const char* const kKeyHost = "IP";
const char* const kKeyPort = "PORT";
const char* const kKeyCapacity = "CAPAMEM";
const char* const kDefaultHost = "192.168.0.3";
const char* const kDefaultPort = "80";
const char* const kDefaultCapacity = "4";

// Window text <-> the file's Windows-1252 bytes.
Bytes ToFile(const QString& text) { return Utf8ToCp1252(text.toStdString()); }
QString FromFile(const Bytes& value) { return QString::fromStdString(Cp1252ToUtf8(value)); }

std::string FilePathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
}  // namespace

QString SettingsFilePath(const QString& executableFolder) {
  QString folder = QDir::fromNativeSeparators(executableFolder);
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder + QString::fromLatin1(kSettingsFileName);
}

void LoadSettings(const QString& path, const SettingsControls& controls) {
  TIniFile ini(FilePathBytes(path));
  controls.host.setText(FromFile(ini.ReadString(kSettingsSection, kKeyHost, kDefaultHost)));
  const std::string port =
      Cp1252ToUtf8(ini.ReadString(kSettingsSection, kKeyPort, kDefaultPort));
  controls.port.SetValue(StrToInt(port));
  controls.capacity.setEditText(
      FromFile(ini.ReadString(kSettingsSection, kKeyCapacity, kDefaultCapacity)));
}

void SaveSettings(const QString& path, const SettingsControls& controls) {
  TIniFile ini(FilePathBytes(path));
  ini.WriteString(kSettingsSection, kKeyHost, ToFile(controls.host.text()));
  ini.WriteString(kSettingsSection, kKeyPort, std::to_string(controls.port.Value()));
  ini.WriteString(kSettingsSection, kKeyCapacity, ToFile(controls.capacity.currentText()));
}
