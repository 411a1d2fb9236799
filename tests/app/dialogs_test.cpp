// The texts of the boxes: the full stop of the error box, line breaks, the file dialog's
// filters; and an error that leaves a handler is shown, the program going on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/form_dialogs.h"
#include "support/app_fixture.h"

namespace {

TEST(ErrorBoxTextTest, FullStopUnlessEmptyOrEndingAtOrBeforeADot) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"Connection refused", "Connection refused."},
      {"Already connected.", "Already connected."},
      {"Attention !", "Attention !"},
      {"(voir ci-dessus)", "(voir ci-dessus)"},
      {"a,", "a,"},
      {"a-", "a-"},
      {"a ", "a "},
      {"a\r", "a\r"},
      {"Socket Error # 10061\r\nConnection refused",
       "Socket Error # 10061\r\nConnection refused."},
      {"fin/", "fin/."},  // '/' (0x2F) sorts after '.'
      {"0", "0."},
      {"'abc' n'est pas une valeur entière correcte",
       "'abc' n'est pas une valeur entière correcte."},
      {"capacité", "capacité."},  // a letter beyond ASCII sorts after '.'
      {"«x»", "«x»."},
  };
  for (const auto& [message, shown] : cases) {
    SCOPED_TRACE(message);
    EXPECT_EQ(ErrorBoxText(message), shown);
  }
}

TEST(MessageBoxTextTest, CarriageReturnsBreakLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"ATTENTION :\r\rTaille fichier(s) > capacité eeprom",
       "ATTENTION :\n\nTaille fichier(s) > capacité eeprom"},
      {"a\rb", "a\nb"},
      {"a\r\nb", "a\nb"},
      {"a\nb", "a\nb"},
      {"<b>x</b> & y", "<b>x</b> & y"},
      {"", ""},
  };
  for (const auto& [message, shown] : cases) {
    SCOPED_TRACE(message);
    EXPECT_EQ(MessageBoxText(message), QString::fromUtf8(shown));
  }
}

TEST(OpenDialogTest, FilterEntriesAsQtNameFilters) {
  EXPECT_EQ(QtNameFilters(QStringLiteral("HTML|*.html|TEXTE|*.txt")),
            (QStringList{"HTML (*.html)", "TEXTE (*.txt)"}));
  EXPECT_EQ(QtNameFilters(QStringLiteral("Pages|*.htm;*.html")),
            (QStringList{"Pages (*.htm *.html)"}));
  EXPECT_EQ(QtNameFilters(QString()), QStringList());
}

// The real boxes: shown modal, then acknowledged from a timer as a user would.
class QtDialogsTest : public ::testing::Test {
 protected:
  // Runs `check` on the active modal widget once it shows, then closes it.
  void WhenModalShows(std::function<void(QWidget*)> check) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, check] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || !modal->isVisible()) return;
      poll->stop();
      poll->deleteLater();
      check(modal);
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        box->button(QMessageBox::Ok)->click();
      } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      }
    });
    poll->start();
  }
  QtFormDialogs dialogs_;
};

TEST_F(QtDialogsTest, MessageBoxIsPlainWithOneOkAndTheTitle) {
  bool seen = false;
  WhenModalShows([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Brelvin Web Server"));
    EXPECT_EQ(box->text(), QStringLiteral("a\n\nb <i>c</i>"));
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->buttons().size(), 1);
    EXPECT_NE(box->button(QMessageBox::Ok), nullptr);
  });
  dialogs_.ShowMessage(QStringLiteral("a\n\nb <i>c</i>"));
  EXPECT_TRUE(seen);
}

TEST_F(QtDialogsTest, ErrorBoxHasTheStopIcon) {
  bool seen = false;
  WhenModalShows([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Brelvin Web Server"));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->buttons().size(), 1);
  });
  dialogs_.ShowError(QStringLiteral("Connection refused."));
  EXPECT_TRUE(seen);
}

TEST_F(QtDialogsTest, FileDialogTakesSeveralFilesWithTheFilters) {
  bool seen = false;
  WhenModalShows([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    seen = true;
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->nameFilters(), (QStringList{"HTML (*.html)", "TEXTE (*.txt)"}));
    EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("HTML (*.html)"));
    EXPECT_TRUE(dialog->isSizeGripEnabled());
  });
  const auto chosen = dialogs_.GetOpenFileNames(TOpenDialog{});
  EXPECT_TRUE(seen);
  EXPECT_FALSE(chosen.has_value());  // cancelled
}

class HandlerErrorTest : public WindowTest {};

TEST_F(HandlerErrorTest, AnErrorLeavingAHandlerIsShownAndTheProgramGoesOn) {
  TfrmMain& w = MakeWindow();
  w.edtServer->setText(QStringLiteral("127.0.0.1"));  // never the default board's address
  w.ComboBoxTE->setEditText(QStringLiteral("abc"));
  w.Envoyer->click();
  w.Envoyer->click();
  ASSERT_EQ(dialogs_->errors.size(), 2u);
  EXPECT_EQ(dialogs_->errors[0], QString::fromUtf8("'abc' n'est pas une valeur entière correcte."));
  EXPECT_FALSE(w.UploadRunning());
  // The window still works after it.
  w.ComboBoxTE->setEditText(QStringLiteral("8"));
  w.Envoyer->click();
  EXPECT_EQ(dialogs_->errors.size(), 2u);
  EXPECT_EQ(dialogs_->fileDialogRuns, 3);
}

}  // namespace
