// The main window as designed: places, sizes and texts of the controls, the title and the
// frame, the font, the tab order, the accelerators, the capacity list, the status bar, the
// scroll bars, and the link label.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QDesktopServices>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSizeGrip>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/gauge.h"
#include "app/gif_animator.h"
#include "app/link_label.h"
#include "app/spin_edit.h"
#include "app/status_bar.h"
#include "support/app_fixture.h"

namespace {

struct ControlCase {
  const char* name;
  QRect geometry;      // in the client area
  const char* text;    // the caption or text at creation ("" when none)
};

// Texts that the settings replace at creation are checked in the settings tests.
std::vector<ControlCase> DesignedControls(TfrmMain& w, std::vector<QWidget*>& widgets) {
  widgets = {w.lblServer, w.lblPort,    w.Gauge,     w.Label1,      w.Label2,
             w.GIFAnimator, w.LabelLien, w.edtServer, w.spnedtPort, w.Envoyer,
             w.ComboBoxTE};
  return {
      {"lblServer", QRect(11, 10, 29, 13), "&Hôte :"},
      {"lblPort", QRect(176, 10, 25, 13), "&Port :"},
      {"Gauge", QRect(8, 103, 257, 20), ""},
      {"Label1", QRect(116, 42, 86, 13), "&Capacité eeprom :"},
      {"Label2", QRect(249, 42, 13, 13), "Ko"},
      {"GIFAnimator", QRect(13, 32, 89, 32), ""},
      {"LabelLien", QRect(139, 126, 125, 13), "www.example.com"},
      {"edtServer", QRect(45, 6, 114, 21), ""},
      {"spnedtPort", QRect(205, 6, 58, 22), ""},
      {"Envoyer", QRect(9, 69, 256, 25), "Envoyer fichier(s) HTML -> EEPROM"},
      {"ComboBoxTE", QRect(205, 38, 44, 21), ""},
  };
}

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
  return QString();
}

class MainWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    MakeWindow();
  }
  void ShowAndActivate() {
    Window().show();
    Window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
  }
};

TEST_F(MainWindowTest, EveryControlHasItsDesignedPlaceSizeAndText) {
  std::vector<QWidget*> widgets;
  const auto cases = DesignedControls(Window(), widgets);
  ASSERT_EQ(cases.size(), widgets.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(widgets[i]->parentWidget(), Window().ClientPanel());
    EXPECT_EQ(widgets[i]->geometry(), cases[i].geometry);
    if (*cases[i].text) {
      EXPECT_EQ(TextOf(widgets[i]), QString::fromUtf8(cases[i].text));
    }
  }
}

TEST_F(MainWindowTest, EveryTextFitsItsControlInTheWindowFont) {
  EXPECT_EQ(QFontInfo(Window().font()).family(), QStringLiteral("Liberation Sans"))
      << "the font package fonts-liberation2 is missing";
  EXPECT_EQ(Window().font().pixelSize(), 11);
  const std::vector<QLabel*> labels = {Window().lblServer, Window().lblPort, Window().Label1,
                                       Window().Label2, Window().LabelLien};
  for (QLabel* label : labels) {
    SCOPED_TRACE(label->text().toStdString());
    QString shown = label->text();
    shown.remove(QLatin1Char('&'));
    const QFontMetrics metrics(label->font());
    EXPECT_LE(metrics.horizontalAdvance(shown), label->width());
    EXPECT_LE(metrics.height(), label->height());
  }
  const QFontMetrics metrics(Window().Envoyer->font());
  EXPECT_LT(metrics.horizontalAdvance(Window().Envoyer->text()), Window().Envoyer->width() - 8);
}

TEST_F(MainWindowTest, WindowTitleSizeFrameAndPosition) {
  EXPECT_EQ(Window().windowTitle(), QStringLiteral("Brelvin Web Server"));
  EXPECT_EQ(Window().size(), QSize(274, 160));
  const Qt::WindowFlags flags = Window().windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags.testFlag(Qt::MSWindowsFixedSizeDialogHint));
  // Resizable: the window can be made both smaller and larger than designed.
  EXPECT_LT(Window().minimumSize().width(), 274);
  EXPECT_LT(Window().minimumSize().height(), 160);
  EXPECT_GT(Window().maximumSize().width(), 274);
  // Centred on the screen.
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  const QPoint windowCentre = Window().frameGeometry().center();
  EXPECT_LE((centre - windowCentre).manhattanLength(), 2);
}

TEST_F(MainWindowTest, ShownIdleState) {
  ShowAndActivate();
  EXPECT_EQ(Window().Gauge->PercentText(), QStringLiteral("0%"));
  EXPECT_EQ(Window().StatusBar->PanelCount(), 2);
  EXPECT_EQ(Window().StatusBar->PanelText(0), QStringLiteral("Tx : "));
  EXPECT_EQ(Window().StatusBar->PanelText(1), QString());
  EXPECT_FALSE(Window().Timer->isActive());
  EXPECT_EQ(Window().Timer->interval(), 10000);
  EXPECT_FALSE(Window().Timer->isSingleShot());
  EXPECT_FALSE(Window().GIFAnimator->Animate());
  EXPECT_EQ(Window().GIFAnimator->CurrentFrame(), 0);
  EXPECT_FALSE(Window().BoardTelnet.IsConnected());
  EXPECT_EQ(Window().BoardTelnet.Port(), 23);
  EXPECT_EQ(Window().BoardTelnet.Terminal(), "dumb");
  EXPECT_TRUE(Window().BoardTelnet.Host().empty());
  EXPECT_FALSE(Window().Envoyer->isDefault());
  EXPECT_FALSE(Window().Envoyer->autoDefault());
  EXPECT_EQ(QApplication::focusWidget(), Window().edtServer);
  // At the designed size no scroll bar shows.
  EXPECT_FALSE(Window().ScrollArea()->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(Window().ScrollArea()->verticalScrollBar()->isVisible());
}

TEST_F(MainWindowTest, TabOrderRunsHostPortCapacityButton) {
  ShowAndActivate();
  Window().edtServer->setFocus();
  const std::vector<QWidget*> expected = {Window().spnedtPort, Window().ComboBoxTE,
                                          Window().Envoyer, Window().edtServer};
  for (QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    // A spin box's or a combo box's inner line edit stands for the box itself.
    while (focus && focus != next && focus->parentWidget() != Window().ClientPanel()) {
      focus = focus->parentWidget();
    }
    EXPECT_EQ(focus, next) << next->metaObject()->className();
  }
}

TEST_F(MainWindowTest, AcceleratorsMoveTheFocus) {
  ShowAndActivate();
  struct Case {
    Qt::Key key;
    QWidget* target;
  };
  // Alt+C goes to the host box, as designed; "Ko" has no accelerator.
  const Case cases[] = {{Qt::Key_P, Window().spnedtPort}, {Qt::Key_H, Window().edtServer},
                        {Qt::Key_P, Window().spnedtPort}, {Qt::Key_C, Window().edtServer}};
  for (const Case& c : cases) {
    QTest::keyClick(&Window(), c.key, Qt::AltModifier);
    QWidget* focus = QApplication::focusWidget();
    EXPECT_TRUE(focus == c.target || (focus && focus->parentWidget() == c.target))
        << "Alt+" << QKeySequence(c.key).toString().toStdString();
  }
  Window().ComboBoxTE->setFocus();
  QTest::keyClick(&Window(), Qt::Key_K, Qt::AltModifier);
  EXPECT_TRUE(Window().ComboBoxTE->hasFocus());
  EXPECT_EQ(Window().Label2->buddy(), Window().edtServer);
  EXPECT_EQ(Window().Label1->buddy(), Window().edtServer);
}

TEST_F(MainWindowTest, CapacityListAndCompletion) {
  QComboBox* box = Window().ComboBoxTE;
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  EXPECT_EQ(items, (QStringList{"2", "4", "8", "16", "64", "128", "256"}));
  EXPECT_TRUE(box->isEditable());
  EXPECT_EQ(box->maxVisibleItems(), 8);
  EXPECT_EQ(box->insertPolicy(), QComboBox::NoInsert);
  ASSERT_NE(box->completer(), nullptr);
  EXPECT_EQ(box->completer()->completionMode(), QCompleter::InlineCompletion);

  ShowAndActivate();
  struct Case {
    const char* typed;
    const char* shown;
  };
  // Typing completes to the first item that begins with the typed text; any other text
  // stays as typed, and pressing Enter adds nothing to the list.
  const Case cases[] = {{"1", "16"}, {"12", "128"}, {"6", "64"}, {"32", "32"}, {"x", "x"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    box->setFocus();
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), QString::fromUtf8(c.typed));
    EXPECT_EQ(box->currentText(), QString::fromUtf8(c.shown));
  }
  QTest::keyClick(box->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(box->count(), 7);
  EXPECT_EQ(box->currentText(), QStringLiteral("x"));
}

TEST_F(MainWindowTest, StatusBarAlongTheBottomWithLastPanelToTheRightEdge) {
  ShowAndActivate();
  TStatusBar* bar = Window().StatusBar;
  ASSERT_NE(bar->SizeGrip(), nullptr);
  EXPECT_TRUE(bar->SizeGrip()->isVisible());
  const QSize sizes[] = {QSize(274, 160), QSize(500, 300), QSize(200, 120), QSize(274, 160)};
  for (const QSize& size : sizes) {
    SCOPED_TRACE(size.width());
    Window().resize(size);
    QApplication::processEvents();
    EXPECT_EQ(bar->geometry(), QRect(0, size.height() - 19, size.width(), 19));
    EXPECT_EQ(bar->PanelRect(0), QRect(0, 0, 120, 19));
    EXPECT_EQ(bar->PanelRect(1).left(), 120);
    EXPECT_EQ(bar->PanelRect(1).right(), bar->width() - 1);
    EXPECT_EQ(bar->SizeGrip()->geometry().right(), bar->width() - 1);
    // The other controls keep their places.
    EXPECT_EQ(Window().Envoyer->mapTo(&Window(), QPoint(0, 0)), QPoint(9, 69));
  }
}

TEST_F(MainWindowTest, ScrollBarsWhenSmallerThanTheControls) {
  ShowAndActivate();
  Window().resize(150, 90);
  QApplication::processEvents();
  EXPECT_TRUE(Window().ScrollArea()->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(Window().ScrollArea()->verticalScrollBar()->isVisible());
  Window().resize(600, 400);
  QApplication::processEvents();
  EXPECT_FALSE(Window().ScrollArea()->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(Window().ScrollArea()->verticalScrollBar()->isVisible());
}

// Records the URLs handed to the desktop services.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

TEST_F(MainWindowTest, LinkLabelColoursCursorAndClick) {
  TLinkLabel* link = Window().LabelLien;
  const QColor blue(0, 0, 255), red(255, 0, 0);
  EXPECT_TRUE(link->font().underline());
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(link->FontColor(), blue);

  ShowAndActivate();
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), link->mapToGlobal(QPointF(5, 5)));
  QApplication::sendEvent(link, &enter);
  EXPECT_EQ(link->FontColor(), red);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(link, &leave);
  EXPECT_EQ(link->FontColor(), blue);

  UrlRecorder recorder;
  QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
  QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(10, 5));
  // A press that ends outside the label is no click.
  QTest::mousePress(link, Qt::LeftButton, Qt::NoModifier, QPoint(10, 5));
  QTest::mouseRelease(link, Qt::LeftButton, Qt::NoModifier, QPoint(300, 5));
  QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
  ASSERT_EQ(recorder.urls.size(), 1u);
  EXPECT_EQ(recorder.urls[0], QUrl(QStringLiteral("http://www.example.com/")));
  EXPECT_TRUE(dialogs_->errors.empty());
}

TEST_F(MainWindowTest, ClickWithNoBrowserReportsNothing) {
  // With no handler and no desktop on the offscreen platform the page cannot be opened.
  ShowAndActivate();
  QTest::mouseClick(Window().LabelLien, Qt::LeftButton, Qt::NoModifier, QPoint(10, 5));
  EXPECT_TRUE(dialogs_->errors.empty());
  EXPECT_TRUE(dialogs_->messages.empty());
}

TEST_F(MainWindowTest, OpenDialogSettings) {
  EXPECT_EQ(Window().OpenDialog.Filter, QStringLiteral("HTML|*.html|TEXTE|*.txt"));
  EXPECT_EQ(Window().OpenDialog.FilterIndex, 1);
  EXPECT_TRUE(Window().OpenDialog.AllowMultiSelect);
}

TEST_F(MainWindowTest, TimerTicksSetTheTimeOutMark) {
  TransferTimedOut = false;
  Window().SetTimerEnabled(true);
  EXPECT_TRUE(Window().Timer->isActive());
  // Switching on when on keeps the running period.
  const int remaining = Window().Timer->remainingTime();
  QTest::qWait(30);
  Window().SetTimerEnabled(true);
  EXPECT_LT(Window().Timer->remainingTime(), remaining);
  Window().SetTimerEnabled(false);
  EXPECT_FALSE(Window().Timer->isActive());
  EXPECT_FALSE(TransferTimedOut);
  // A tick runs TimerTimer, which sets the mark and leaves the timer running.
  Window().Timer->setInterval(10);
  Window().SetTimerEnabled(true);
  EXPECT_TRUE(QTest::qWaitFor([] { return TransferTimedOut; }, 5000));
  EXPECT_TRUE(Window().Timer->isActive());
  Window().SetTimerEnabled(false);
  TransferTimedOut = false;
}

TEST_F(MainWindowTest, DataHandlerAppendsToReceivedText) {
  ReceivedText.clear();
  ASSERT_TRUE(static_cast<bool>(Window().BoardTelnet.OnDataAvailable));
  Window().BoardTelnet.OnDataAvailable(Window().BoardTelnet, "A");
  Window().BoardTelnet.OnDataAvailable(Window().BoardTelnet, "");
  Window().BoardTelnet.OnDataAvailable(Window().BoardTelnet, BytesOf({0, 0x1A}));
  EXPECT_EQ(ReceivedText, BytesOf({'A', 0, 0x1A}));
  ReceivedText.clear();
}

TEST_F(MainWindowTest, TransferViewDrivesTheControls) {
  TransferView& view = Window();
  view.SetGaugeMax(3);
  view.SetGaugeProgress(1);
  EXPECT_EQ(view.GaugeProgress(), 1);
  EXPECT_EQ(Window().Gauge->PercentText(), QStringLiteral("33%"));
  view.SetGaugeProgress(5);
  EXPECT_EQ(view.GaugeProgress(), 3);
  view.SetPanelText(0, "Tx : 3/19");
  view.SetPanelText(1, "Transfert en cours...");
  EXPECT_EQ(Window().StatusBar->PanelText(0), QStringLiteral("Tx : 3/19"));
  EXPECT_EQ(Window().StatusBar->PanelText(1), QStringLiteral("Transfert en cours..."));
  view.SetAnimate(true);
  EXPECT_TRUE(Window().GIFAnimator->Animate());
  view.SetAnimate(false);
  view.ShowMessage("Transmission réussie, 2 caractères programmés en eeprom.\r0% de la mémoire occupée.");
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_EQ(dialogs_->messages[0],
            QString::fromUtf8("Transmission réussie, 2 caractères programmés en eeprom.\n"
                              "0% de la mémoire occupée."));
}

TEST_F(MainWindowTest, WaitForEventsBlocksUntilAnEventArrives) {
  // A timer posted for later is what ends the wait: the call neither spins nor returns early.
  bool fired = false;
  QTimer::singleShot(50, &Window(), [&] { fired = true; });
  for (int i = 0; i < 100 && !fired; ++i) Window().WaitForEvents();
  EXPECT_TRUE(fired);
}

}  // namespace

#include "window_test.moc"
