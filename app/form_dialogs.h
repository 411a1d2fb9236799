#pragma once
// The window's modal boxes and its file dialog, behind one small interface so that tests
// can stand in for them. The Qt implementation shows real boxes: every caption is the
// application title, texts are plain (no markup), and a carriage return in a message
// starts a new line ("\r\r" leaves an empty line).
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

class QWidget;

// The application title: caption of the window and of every box.
extern const char* const kApplicationTitle;  // "Brelvin Web Server"

// The file-open dialog's settings, as the window describes them.
struct TOpenDialog {
  // Display name and pattern alternate, separated by "|".
  QString Filter = QStringLiteral("HTML|*.html|TEXTE|*.txt");
  int FilterIndex = 1;  // 1-based: the first entry is preselected
  bool AllowMultiSelect = true;
};

// "HTML|*.html|TEXTE|*.txt" as Qt's name filters: "HTML (*.html)", "TEXTE (*.txt)".
QStringList QtNameFilters(const QString& filter);

// The text of a message as a box shows it: CR LF and a lone CR become line breaks.
QString MessageBoxText(const std::string& utf8Message);

// The text of the error box for an error that left a handler: the message with a full
// stop appended unless it is empty or its last character's code is at most that of '.'.
std::string ErrorBoxText(const std::string& utf8Message);

class FormDialogs {
 public:
  virtual ~FormDialogs() = default;
  // A plain box with one OK button; returns when it is acknowledged.
  virtual void ShowMessage(const QString& text) = 0;
  // The error box: stop icon, one OK button.
  virtual void ShowError(const QString& text) = 0;
  // Runs the file dialog: the chosen full file names in the dialog's order, or nothing
  // when it was cancelled.
  virtual std::optional<QStringList> GetOpenFileNames(const TOpenDialog& dialog) = 0;
};

class QtFormDialogs : public FormDialogs {
 public:
  void ShowMessage(const QString& text) override;
  void ShowError(const QString& text) override;
  std::optional<QStringList> GetOpenFileNames(const TOpenDialog& dialog) override;
};
