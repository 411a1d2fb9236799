#pragma once
// The settings file Parametrage.ini next to the executable: section TELNET with the keys
// IP, PORT and CAPAMEM, values stored in Windows-1252. LoadSettings is the body of the
// window's FormCreate, SaveSettings the body of its FormClose; both raise their errors
// (EConvertError for a PORT that is not an integer, EIniFileException for a failed
// write) for the window to show.
#include <QString>

class QComboBox;
class QLineEdit;
class TSpinEdit;

extern const char* const kSettingsFileName;  // "Parametrage.ini"
extern const char* const kSettingsSection;   // "TELNET"

// The full path of the settings file for an executable in `executableFolder`.
QString SettingsFilePath(const QString& executableFolder);

// The three controls the settings fill and come from.
struct SettingsControls {
  QLineEdit& host;
  TSpinEdit& port;
  QComboBox& capacity;
};

// Reads IP (default "192.168.0.3") into the host text, PORT (default "80") through
// StrToInt into the port's value (which clamps), CAPAMEM (default "4") into the capacity
// text. A PORT that is not an integer raises before the capacity is read.
void LoadSettings(const QString& path, const SettingsControls& controls);

// Writes IP, PORT (the port's value, unclamped, as decimal text) and CAPAMEM, in that order.
void SaveSettings(const QString& path, const SettingsControls& controls);
