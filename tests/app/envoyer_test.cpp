// The send button up to the transfer: host and port handed to the Telnet component, the
// file dialog, the capacity, the silent stop and the size warning; a press during an
// upload; a close request during an upload. The presses of the table never reach the
// transfer, so no connection is opened; the host is set to 127.0.0.1 first all the same.
// The last tests go on to the transfer, against loopback ports only: one where nothing
// listens, and a small echoing board.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../common/case_name.h"
#include "../common/test_server.h"
#include "app/gauge.h"
#include "app/gif_animator.h"
#include "app/spin_edit.h"
#include "app/status_bar.h"
#include "support/app_fixture.h"

namespace {

struct PressCase {
  const char* name;
  const char* portText;
  int port;                 // what BoardTelnet's Port becomes
  const char* capacity;
  std::optional<std::vector<std::string>> files;  // contents; nullopt: dialog cancelled
  bool missingFile;         // add a name that does not exist
  const char* message;      // the plain box's text, "" when none
  const char* error;        // the error box's text, "" when none
};

const std::string k2049(2047, 'a');  // + its 0x00 + the final 0x1A = 2049 bytes
const std::string k2048(2046, 'a');  // 2048 bytes: exactly the capacity of "2"

const PressCase kPressCases[] = {
    {"cancelled", "2323", 2323, "8", std::nullopt, false, "", ""},
    {"cancelled, port not a number", "abc", 1, "8", std::nullopt, false, "", ""},
    {"cancelled, port out of range kept", "70000", 70000, "8", std::nullopt, false, "", ""},
    {"no file opens", "23", 23, "8", std::vector<std::string>{}, true, "", ""},
    {"too large", "23", 23, "2", std::vector<std::string>{k2049}, false,
     "ATTENTION :\n\nTaille fichier(s) > capacité eeprom", ""},
    {"too large over two files", "23", 23, "2",
     std::vector<std::string>{std::string(1500, 'x'), std::string(600, 'y')}, true,
     "ATTENTION :\n\nTaille fichier(s) > capacité eeprom", ""},
    {"zero capacity", "23", 23, "0", std::vector<std::string>{""}, false,
     "ATTENTION :\n\nTaille fichier(s) > capacité eeprom", ""},
    {"capacity not a number", "23", 23, "8 Ko", std::vector<std::string>{"<p>"}, false, "",
     "'8 Ko' n'est pas une valeur entière correcte."},
    {"capacity not a number, dialog cancelled", "23", 23, "", std::nullopt, false, "",
     "'' n'est pas une valeur entière correcte."},
};

class EnvoyerPressTest : public WindowTest, public ::testing::WithParamInterface<PressCase> {};

TEST_P(EnvoyerPressTest, StopsBeforeTheTransfer) {
  const PressCase& c = GetParam();
  TfrmMain& w = MakeWindow();
  w.edtServer->setText(QStringLiteral("127.0.0.1"));
  w.spnedtPort->SetText(QString::fromUtf8(c.portText));
  w.ComboBoxTE->setEditText(QString::fromUtf8(c.capacity));
  if (c.files) {
    QStringList names;
    int i = 0;
    for (const std::string& content : *c.files) {
      names << WriteFile(QStringLiteral("page%1.html").arg(++i), content);
    }
    if (c.missingFile) names << Folder() + QStringLiteral("/missing.html");
    dialogs_->chosenFiles = names;
  }
  w.Envoyer->click();

  EXPECT_EQ(w.BoardTelnet.Host(), "127.0.0.1");
  EXPECT_EQ(w.BoardTelnet.Port(), c.port);
  EXPECT_EQ(dialogs_->fileDialogRuns, 1);
  ASSERT_EQ(dialogs_->fileDialogSettings.size(), 1u);
  EXPECT_EQ(dialogs_->fileDialogSettings[0].Filter, QStringLiteral("HTML|*.html|TEXTE|*.txt"));
  if (*c.message) {
    ASSERT_EQ(dialogs_->messages.size(), 1u);
    EXPECT_EQ(dialogs_->messages[0], QString::fromUtf8(c.message));
  } else {
    EXPECT_TRUE(dialogs_->messages.empty());
  }
  if (*c.error) {
    ASSERT_EQ(dialogs_->errors.size(), 1u);
    EXPECT_EQ(dialogs_->errors[0], QString::fromUtf8(c.error));
  } else {
    EXPECT_TRUE(dialogs_->errors.empty());
  }
  // Nothing of the transfer happened.
  EXPECT_FALSE(w.BoardTelnet.IsConnected());
  EXPECT_EQ(w.Gauge->MaxValue(), 100);
  EXPECT_EQ(w.StatusBar->PanelText(0), QStringLiteral("Tx : "));
  EXPECT_FALSE(w.GIFAnimator->Animate());
  EXPECT_FALSE(w.UploadRunning());
}

INSTANTIATE_TEST_SUITE_P(Presses, EnvoyerPressTest, ::testing::ValuesIn(kPressCases),
                         CaseName<PressCase>);

// A board for the window's whole-upload tests: silent until "PRG\r" (4 bytes), then echoes
// every byte (the client sends the next byte only after the echo).
std::function<std::string(const std::string&)> EchoAfterStartCommand() {
  return [received = std::string()](const std::string& chunk) mutable {
    const std::size_t before = received.size();
    received += chunk;
    if (received.size() <= 4) return std::string();
    return received.substr(std::max<std::size_t>(before, 4));
  };
}

class EnvoyerTest : public WindowTest {};

TEST_F(EnvoyerTest, ExactlyTheCapacityIsNoWarningButTheTransfer) {
  // 2048 bytes on a capacity of "2" go on to the transfer, which tries to connect: point it
  // at a loopback port nobody listens on, so the attempt fails at once with an error box.
  testnet::RefusingPort refusing;
  TfrmMain& w = MakeWindow();
  w.edtServer->setText(QStringLiteral("127.0.0.1"));
  w.spnedtPort->SetValue(refusing.Port());
  w.ComboBoxTE->setEditText(QStringLiteral("2"));
  dialogs_->chosenFiles = QStringList{WriteFile(QStringLiteral("exact.html"), k2048)};
  w.Envoyer->click();
  EXPECT_TRUE(dialogs_->messages.empty());
  ASSERT_EQ(dialogs_->errors.size(), 1u);  // the connection error of the component
  EXPECT_EQ(w.Gauge->MaxValue(), 2048);    // the transfer began
  EXPECT_FALSE(w.BoardTelnet.IsConnected());
}

TEST_F(EnvoyerTest, ASecondPressDuringAnUploadIsIgnored) {
  TfrmMain& w = MakeWindow();
  w.edtServer->setText(QStringLiteral("127.0.0.1"));
  bool runningInside = false;
  dialogs_->whileFileDialogOpen = [&] {
    runningInside = w.UploadRunning();
    w.edtServer->setText(QStringLiteral("127.0.0.2"));
    w.Envoyer->click();  // the user presses again while the first press is running
  };
  w.Envoyer->click();
  EXPECT_TRUE(runningInside);
  EXPECT_EQ(dialogs_->fileDialogRuns, 1);
  EXPECT_EQ(w.BoardTelnet.Host(), "127.0.0.1");  // the second press did not run
  EXPECT_FALSE(w.UploadRunning());
  // Once the first press has ended, the button works again.
  dialogs_->whileFileDialogOpen = nullptr;
  w.Envoyer->click();
  EXPECT_EQ(dialogs_->fileDialogRuns, 2);
  EXPECT_EQ(w.BoardTelnet.Host(), "127.0.0.2");
}

TEST_F(EnvoyerTest, CloseDuringAnUploadSavesAtOnceAndClosesWhenTheHandlerReturns) {
  TfrmMain& w = MakeWindow();
  w.show();
  w.edtServer->setText(QStringLiteral("127.0.0.1"));
  w.ComboBoxTE->setEditText(QStringLiteral("2"));
  dialogs_->chosenFiles = QStringList{WriteFile(QStringLiteral("big.html"), k2049)};
  bool closedAtOnce = true;
  std::string savedAtRequest;
  dialogs_->whileFileDialogOpen = [&] {
    closedAtOnce = w.close();
    savedAtRequest = ReadIni();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.CloseRequested());
    // Changed after the request: the deferred close must not save again.
    w.spnedtPort->SetValue(81);
  };
  w.Envoyer->click();
  EXPECT_FALSE(closedAtOnce);
  EXPECT_EQ(savedAtRequest, "[TELNET]\r\nIP=127.0.0.1\r\nPORT=80\r\nCAPAMEM=2\r\n");
  // The size warning came after the request: it closed at once by itself.
  EXPECT_TRUE(dialogs_->messages.empty());
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(ReadIni(), savedAtRequest);
}

// Whole uploads through the window to an echoing board on loopback.
class EnvoyerBoardTest : public WindowTest {
 protected:
  EnvoyerBoardTest() { board.SetResponder(EchoAfterStartCommand()); }
  // The window shown, pointed at the board.
  TfrmMain& WindowAtTheBoard() {
    TfrmMain& w = MakeWindow();
    w.show();
    w.edtServer->setText(QStringLiteral("127.0.0.1"));
    w.spnedtPort->SetValue(board.Port());
    return w;
  }
  testnet::TestServer board;
};

TEST_F(EnvoyerBoardTest, UploadThroughTheWindowToALoopbackBoard) {
  // The board echoes every byte after "PRG\r" (the client sends the next byte only after the
  // echo, so every chunk after the command is one byte).
  TfrmMain& w = WindowAtTheBoard();
  w.ComboBoxTE->setEditText(QStringLiteral("2"));
  dialogs_->chosenFiles = QStringList{WriteFile(QStringLiteral("a.html"), "<p>hi</p>\r\n")};
  // The logo moves while the bytes go out (the wait runs the window's event loop).
  w.Envoyer->click();

  EXPECT_TRUE(dialogs_->errors.empty()) << dialogs_->errors.front().toStdString();
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_EQ(dialogs_->messages[0],
            QString::fromUtf8("Transmission réussie, 11 caractères programmés en eeprom.\n"
                              "1% de la mémoire occupée."));
  EXPECT_EQ(board.Received(), std::string("PRG\r<p>hi</p>", 13) + std::string("\0\x1A", 2));
  EXPECT_EQ(w.StatusBar->PanelText(0), QStringLiteral("Tx : 11/11"));
  EXPECT_EQ(w.StatusBar->PanelText(1), QString());
  EXPECT_EQ(w.Gauge->Progress(), 0);
  EXPECT_EQ(w.Gauge->MaxValue(), 11);
  EXPECT_FALSE(w.GIFAnimator->Animate());
  EXPECT_FALSE(w.Timer->isActive());
  EXPECT_FALSE(w.BoardTelnet.IsConnected());
  EXPECT_TRUE(ReceivedText.empty());
}

TEST_F(EnvoyerBoardTest, CloseDuringTheTransferLetsItFinishThenEnds) {
  TfrmMain& w = WindowAtTheBoard();
  dialogs_->chosenFiles = QStringList{WriteFile(QStringLiteral("a.html"), "abc")};
  bool stillOpenAfterRequest = false;
  dialogs_->whileFileDialogOpen = [&] {
    // Runs at the transfer's first wait for an echo: the user closes the window.
    QTimer::singleShot(0, &w, [&] {
      w.close();
      stillOpenAfterRequest = w.isVisible();
    });
  };
  w.Envoyer->click();
  EXPECT_TRUE(stillOpenAfterRequest);
  // Every byte went out all the same; the result message closed by itself.
  EXPECT_EQ(board.Received(), std::string("PRG\rabc\0\x1A", 9));
  EXPECT_TRUE(dialogs_->messages.empty());
  EXPECT_TRUE(dialogs_->errors.empty());
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.BoardTelnet.IsConnected());
  EXPECT_EQ(ReadIni(), "[TELNET]\r\nIP=127.0.0.1\r\nPORT=" + std::to_string(board.Port()) +
                           "\r\nCAPAMEM=4\r\n");
}

TEST_F(EnvoyerTest, CloseWhenIdleClosesAtOnce) {
  TfrmMain& w = MakeWindow();
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.CloseRequested());
  EXPECT_TRUE(IniExists());
}

}  // namespace
