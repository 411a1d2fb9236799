#pragma once
// Test helpers for the window: a dialog seam that records the boxes and answers the file
// dialog from a script, and a fixture that builds the window with its settings file in a
// temporary folder.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/form_dialogs.h"
#include "app/mainform.h"

// Readable QStrings in GoogleTest's failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

class RecordingDialogs : public FormDialogs {
 public:
  struct State {
    std::vector<QString> messages;
    std::vector<QString> errors;
    int fileDialogRuns = 0;
    std::vector<TOpenDialog> fileDialogSettings;
    // What the file dialog returns (nullopt: cancelled).
    std::optional<QStringList> chosenFiles;
    // Runs inside the file dialog, as the user would act while it is open.
    std::function<void()> whileFileDialogOpen;
  };

  explicit RecordingDialogs(std::shared_ptr<State> state) : state_(std::move(state)) {}
  void ShowMessage(const QString& text) override { state_->messages.push_back(text); }
  void ShowError(const QString& text) override { state_->errors.push_back(text); }
  std::optional<QStringList> GetOpenFileNames(const TOpenDialog& dialog) override {
    ++state_->fileDialogRuns;
    state_->fileDialogSettings.push_back(dialog);
    if (state_->whileFileDialogOpen) state_->whileFileDialogOpen();
    return state_->chosenFiles;
  }

 private:
  std::shared_ptr<State> state_;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  // Builds the window (which loads the settings from the temporary folder).
  TfrmMain& MakeWindow() {
    window_ = std::make_unique<TfrmMain>(std::make_unique<RecordingDialogs>(dialogs_), dir_.path());
    return *window_;
  }
  TfrmMain& Window() { return *window_; }

  QString Folder() const { return dir_.path(); }
  QString IniPath() const { return dir_.filePath(QStringLiteral("Parametrage.ini")); }
  // The settings file's bytes ("" when missing).
  std::string ReadIni() const;
  void WriteIni(const std::string& bytes) const;
  bool IniExists() const;
  // A file in the temporary folder with these bytes; returns its full name.
  QString WriteFile(const QString& name, const std::string& bytes) const;

  std::shared_ptr<RecordingDialogs::State> dialogs_ = std::make_shared<RecordingDialogs::State>();

 private:
  QTemporaryDir dir_;
  std::unique_ptr<TfrmMain> window_;
};
