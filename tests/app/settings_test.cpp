// Parametrage.ini: loaded when the window is created, saved at every close request.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <sys/stat.h>

#include "../common/case_name.h"
#include "app/settings.h"
#include "app/spin_edit.h"
#include "support/app_fixture.h"

namespace {

struct LoadCase {
  const char* name;
  const char* file;  // nullptr: no settings file
  const char* host;
  const char* port;
  const char* capacity;
  const char* error;  // the error box's text, "" when none
};

const LoadCase kLoadCases[] = {
    {"no file", nullptr, "192.168.0.3", "80", "4", ""},
    {"all keys", "[TELNET]\r\nIP=10.1.2.3\r\nPORT=2323\r\nCAPAMEM=16\r\n", "10.1.2.3", "2323",
     "16", ""},
    {"LF endings, other case", "[telnet]\nip=board\nport=23\ncapamem=2\n", "board", "23", "2", ""},
    {"missing IP", "[TELNET]\r\nPORT=23\r\nCAPAMEM=2\r\n", "192.168.0.3", "23", "2", ""},
    {"missing PORT and CAPAMEM", "[TELNET]\r\nIP=h\r\n", "h", "80", "4", ""},
    {"empty IP stays empty", "[TELNET]\r\nIP=\r\nPORT=80\r\nCAPAMEM=4\r\n", "", "80", "4", ""},
    {"no TELNET section", "[OTHER]\r\nIP=1.1.1.1\r\nPORT=9\r\n", "192.168.0.3", "80", "4", ""},
    {"PORT 0", "[TELNET]\r\nPORT=0\r\n", "192.168.0.3", "1", "4", ""},
    {"PORT -1", "[TELNET]\r\nPORT=-1\r\n", "192.168.0.3", "1", "4", ""},
    {"PORT 65536", "[TELNET]\r\nPORT=65536\r\n", "192.168.0.3", "65535", "4", ""},
    {"PORT hexadecimal", "[TELNET]\r\nPORT=$50\r\n", "192.168.0.3", "80", "4", ""},
    {"PORT abc", "[TELNET]\r\nIP=stored\r\nPORT=abc\r\nCAPAMEM=16\r\n", "stored", "80", "8",
     "'abc' n'est pas une valeur entière correcte."},
    {"PORT empty", "[TELNET]\r\nIP=stored\r\nPORT=\r\nCAPAMEM=16\r\n", "stored", "80", "8",
     "'' n'est pas une valeur entière correcte."},
    {"CAPAMEM 32 as stored", "[TELNET]\r\nCAPAMEM=32\r\n", "192.168.0.3", "80", "32", ""},
    {"CAPAMEM any text", "[TELNET]\r\nCAPAMEM=8 Ko\r\n", "192.168.0.3", "80", "8 Ko", ""},
    {"Windows-1252 host", "[TELNET]\r\nIP=h\xF4te-\x80\r\n", "hôte-€", "80", "4", ""},
};

class SettingsLoadTest : public WindowTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(SettingsLoadTest, WindowShowsTheStoredSettings) {
  const LoadCase& c = GetParam();
  if (c.file) WriteIni(c.file);
  const std::string before = ReadIni();
  TfrmMain& w = MakeWindow();
  EXPECT_EQ(w.edtServer->text(), QString::fromUtf8(c.host));
  EXPECT_EQ(w.spnedtPort->Text(), QString::fromUtf8(c.port));
  EXPECT_EQ(w.ComboBoxTE->currentText(), QString::fromUtf8(c.capacity));
  if (*c.error) {
    ASSERT_EQ(dialogs_->errors.size(), 1u);
    EXPECT_EQ(dialogs_->errors[0], QString::fromUtf8(c.error));
  } else {
    EXPECT_TRUE(dialogs_->errors.empty());
  }
  // Loading never creates or changes the file.
  EXPECT_EQ(IniExists(), c.file != nullptr);
  EXPECT_EQ(ReadIni(), before);
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsLoadTest, ::testing::ValuesIn(kLoadCases),
                         CaseName<LoadCase>);

struct SaveCase {
  const char* name;
  const char* fileBefore;  // nullptr: no file
  const char* host;        // typed into the window before the close
  const char* portText;
  const char* capacity;
  const char* fileAfter;
};

const SaveCase kSaveCases[] = {
    {"fresh start", nullptr, nullptr, nullptr, nullptr,
     "[TELNET]\r\nIP=192.168.0.3\r\nPORT=80\r\nCAPAMEM=4\r\n"},
    {"edited values", nullptr, "board.local", "2323", "16",
     "[TELNET]\r\nIP=board.local\r\nPORT=2323\r\nCAPAMEM=16\r\n"},
    {"port not a number writes 1", nullptr, nullptr, "abc", nullptr,
     "[TELNET]\r\nIP=192.168.0.3\r\nPORT=1\r\nCAPAMEM=4\r\n"},
    {"port 65536 still focused writes 65536", nullptr, nullptr, "65536", nullptr,
     "[TELNET]\r\nIP=192.168.0.3\r\nPORT=65536\r\nCAPAMEM=4\r\n"},
    {"empty host", nullptr, "", nullptr, nullptr, "[TELNET]\r\nIP=\r\nPORT=80\r\nCAPAMEM=4\r\n"},
    {"capacity text as typed", nullptr, nullptr, nullptr, "32 ",
     "[TELNET]\r\nIP=192.168.0.3\r\nPORT=80\r\nCAPAMEM=32 \r\n"},
    {"accented host in Windows-1252", nullptr, "hôte-€", nullptr, nullptr,
     "[TELNET]\r\nIP=h\xF4te-\x80\r\nPORT=80\r\nCAPAMEM=4\r\n"},
    {"other lines and sections kept",
     "; settings\r\n[OTHER]\r\nA=1\r\n[TELNET]\r\nIP=x\r\nEXTRA=y\r\nPORT=23\r\nCAPAMEM=2\r\n"
     "[LAST]\r\nB=2\r\n",
     "z", "24", "64",
     "; settings\r\n[OTHER]\r\nA=1\r\n[TELNET]\r\nIP=z\r\nEXTRA=y\r\nPORT=24\r\nCAPAMEM=64\r\n"
     "[LAST]\r\nB=2\r\n"},
    {"bad PORT replaced by the design-time values",
     "[TELNET]\r\nIP=stored\r\nPORT=abc\r\nCAPAMEM=16\r\n", nullptr, nullptr, nullptr,
     "[TELNET]\r\nIP=stored\r\nPORT=80\r\nCAPAMEM=8\r\n"},
};

class SettingsSaveTest : public WindowTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SettingsSaveTest, CloseWritesTheThreeKeys) {
  const SaveCase& c = GetParam();
  if (c.fileBefore) WriteIni(c.fileBefore);
  TfrmMain& w = MakeWindow();
  dialogs_->errors.clear();
  w.show();
  if (c.host) w.edtServer->setText(QString::fromUtf8(c.host));
  if (c.portText) w.spnedtPort->SetText(QString::fromUtf8(c.portText));
  if (c.capacity) w.ComboBoxTE->setEditText(QString::fromUtf8(c.capacity));
  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(ReadIni(), std::string(c.fileAfter));
  EXPECT_TRUE(dialogs_->errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsSaveTest, ::testing::ValuesIn(kSaveCases),
                         CaseName<SaveCase>);

class SettingsRoundTripTest : public WindowTest {};

TEST_F(SettingsRoundTripTest, SavedValuesComeBackAtTheNextStart) {
  {
    TfrmMain& w = MakeWindow();
    w.edtServer->setText(QString::fromUtf8("hôte œuvre"));
    w.spnedtPort->SetText(QStringLiteral("65536"));
    w.ComboBoxTE->setEditText(QStringLiteral("128"));
    w.show();
    ASSERT_TRUE(w.close());
  }
  TfrmMain& again = MakeWindow();
  EXPECT_EQ(again.edtServer->text(), QString::fromUtf8("hôte œuvre"));
  EXPECT_EQ(again.spnedtPort->Text(), QStringLiteral("65535"));
  EXPECT_EQ(again.ComboBoxTE->currentText(), QStringLiteral("128"));
}

TEST_F(SettingsRoundTripTest, ReadOnlyFolderShowsTheErrorAndStillCloses) {
  TfrmMain& w = MakeWindow();
  w.show();
  ASSERT_EQ(chmod(QFile::encodeName(Folder()).constData(), 0555), 0);
  const bool closed = w.close();
  chmod(QFile::encodeName(Folder()).constData(), 0755);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(IniExists());
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(dialogs_->errors[0], QString::fromUtf8("Impossible d'écrire dans ") + IniPath() + ".");
  // A later close request tries again (and now succeeds).
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_TRUE(IniExists());
  EXPECT_EQ(dialogs_->errors.size(), 1u);
}

TEST(SettingsPathTest, NextToTheExecutableWhateverTheCurrentFolder) {
  EXPECT_EQ(SettingsFilePath(QStringLiteral("/opt/brelvin")),
            QStringLiteral("/opt/brelvin/Parametrage.ini"));
  EXPECT_EQ(SettingsFilePath(QStringLiteral("/opt/brelvin/")),
            QStringLiteral("/opt/brelvin/Parametrage.ini"));
  const QString before = QDir::currentPath();
  QDir::setCurrent(QDir::tempPath());
  // Built without a folder, the window uses the running executable's folder (it only
  // reads there; nothing is written without a close).
  TfrmMain w(std::make_unique<RecordingDialogs>(std::make_shared<RecordingDialogs::State>()));
  QDir::setCurrent(before);
  EXPECT_EQ(w.SettingsPath(), QCoreApplication::applicationDirPath() + "/Parametrage.ini");
}

}  // namespace
