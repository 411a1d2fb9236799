#include "app/mainform.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

#include "app/gauge.h"
#include "app/gif_animator.h"
#include "app/link_label.h"
#include "app/spin_edit.h"
#include "app/status_bar.h"
#include "platform/thread/loop_thread.h"
#include "upload/payload.h"

// The logo and the icon are compiled into this static library; registering them by hand
// keeps the linker from dropping them.
void InitAppResources() { Q_INIT_RESOURCE(resources); }

Bytes ReceivedText;
bool TransferTimedOut = false;
TfrmMain* frmMain = nullptr;

const char* const kMakerPageUrl = "http://www.example.com/";
const char* const kMakerPageCaption = "www.example.com";

namespace {
// Colours of the link: blue at rest, red under the mouse pointer.
const QColor kLinkColour(0, 0, 255);
const QColor kLinkHotColour(255, 0, 0);

// The window's design.
constexpr int kClientWidth = 274;
constexpr int kClientHeight = 160;
constexpr int kStatusBarHeight = 19;
constexpr int kTimerIntervalMs = 10000;

QLabel* MakeLabel(QWidget* parent, const char* utf8Caption, QRect geometry, QWidget* buddy) {
  auto* label = new QLabel(QString::fromUtf8(utf8Caption), parent);
  label->setGeometry(geometry);
  label->setBuddy(buddy);
  return label;
}

// Clears a flag when the scope ends, however it ends.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};
}  // namespace

QFont WindowFont() {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  font.setStretch(95);
  return font;
}

void InstallMainThreadWakeHook() {
  mainthread::Register();
  mainthread::SetWakeHook([] {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(app, [] { mainthread::RunQueuedCalls(); }, Qt::QueuedConnection);
    }
  });
}

TfrmMain::TfrmMain(std::unique_ptr<FormDialogs> dialogs, const QString& executableFolder,
                   QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs ? std::move(dialogs) : std::make_unique<QtFormDialogs>()),
      settingsPath_(SettingsFilePath(executableFolder.isEmpty()
                                         ? QCoreApplication::applicationDirPath()
                                         : executableFolder)) {
  InitAppResources();
  InstallMainThreadWakeHook();
  setWindowTitle(QString::fromUtf8(kApplicationTitle));
  setFont(WindowFont());
  setBackgroundRole(QPalette::Window);
  CreateComponents();
  resize(kClientWidth, kClientHeight);
  CentreOnScreen();
  edtServer->setFocus();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  if (frmMain == this) frmMain = nullptr;
  try {
    BoardTelnet.CloseConnection();
  } catch (...) {
    // Closing raises nothing by design; nothing to report while the window goes away.
  }
}

void TfrmMain::CreateComponents() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  // The fixed-layout controls: scroll bars appear when the window is made smaller.
  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setFocusPolicy(Qt::NoFocus);
  scroll_->setWidgetResizable(false);
  scroll_->setBackgroundRole(QPalette::Window);
  scroll_->viewport()->setBackgroundRole(QPalette::Window);
  client_ = new QWidget;
  client_->setFixedSize(kClientWidth, kClientHeight - kStatusBarHeight);

  // In creation order (which is also the stacking order).
  edtServer = new QLineEdit(client_);
  spnedtPort = new TSpinEdit(client_);

  lblServer = MakeLabel(client_, "&Hôte :", QRect(11, 10, 29, 13), edtServer);
  lblPort = MakeLabel(client_, "&Port :", QRect(176, 10, 25, 13), spnedtPort);

  Gauge = new TGauge(client_);
  Gauge->setGeometry(8, 103, 257, 20);
  Gauge->SetMinValue(0);
  Gauge->SetMaxValue(100);
  Gauge->SetProgress(0);

  // Label1's focus target is the host box, as designed (not the capacity box beside it).
  Label1 = MakeLabel(client_, "&Capacité eeprom :", QRect(116, 42, 86, 13), edtServer);
  Label2 = MakeLabel(client_, "Ko", QRect(249, 42, 13, 13), edtServer);

  GIFAnimator = new TGIFAnimator(client_);
  GIFAnimator->LoadFromFile(QStringLiteral(":/logo.gif"));
  GIFAnimator->setGeometry(13, 32, 89, 32);

  LabelLien = new TLinkLabel(client_);
  LabelLien->setText(QString::fromUtf8(kMakerPageCaption));
  LabelLien->setGeometry(139, 126, 125, 13);
  QFont linkFont = WindowFont();
  linkFont.setUnderline(true);
  LabelLien->setFont(linkFont);
  LabelLien->SetFontColor(kLinkColour);
  connect(LabelLien, &TLinkLabel::clicked, this, [this] { LabelLienClick(); });
  connect(LabelLien, &TLinkLabel::mouseEntered, this, [this] { LabelLienMouseEnter(); });
  connect(LabelLien, &TLinkLabel::mouseLeft, this, [this] { LabelLienMouseLeave(); });

  edtServer->setGeometry(45, 6, 114, 21);
  edtServer->setMaxLength(std::numeric_limits<int>::max());
  edtServer->setText(QStringLiteral("192.168.0.3"));

  spnedtPort->setGeometry(205, 6, 58, 22);
  spnedtPort->SetMinValue(1);
  spnedtPort->SetMaxValue(65535);
  spnedtPort->SetValue(80);

  Envoyer = new QPushButton(QStringLiteral("Envoyer fichier(s) HTML -> EEPROM"), client_);
  Envoyer->setGeometry(9, 69, 256, 25);
  Envoyer->setAutoDefault(false);
  Envoyer->setDefault(false);
  connect(Envoyer, &QPushButton::clicked, this, [this] { EnvoyerClick(); });

  StatusBar = new TStatusBar(this);
  StatusBar->setFixedHeight(kStatusBarHeight);
  StatusBar->AddPanel(120, QStringLiteral("Tx : "));
  StatusBar->AddPanel(50);

  ComboBoxTE = new QComboBox(client_);
  ComboBoxTE->setEditable(true);
  ComboBoxTE->setInsertPolicy(QComboBox::NoInsert);
  ComboBoxTE->setMaxVisibleItems(8);
  ComboBoxTE->addItems({QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("8"),
                        QStringLiteral("16"), QStringLiteral("64"), QStringLiteral("128"),
                        QStringLiteral("256")});
  ComboBoxTE->completer()->setCompletionMode(QCompleter::InlineCompletion);
  ComboBoxTE->completer()->setCaseSensitivity(Qt::CaseInsensitive);
  ComboBoxTE->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
  ComboBoxTE->setEditText(QStringLiteral("8"));
  ComboBoxTE->setGeometry(205, 38, 44, 21);

  // Non-visual components.
  Timer = new QTimer(this);
  Timer->setInterval(kTimerIntervalMs);
  Timer->setSingleShot(false);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });

  BoardTelnet.SetPort(23);
  BoardTelnet.SetTerminal("dumb");
  BoardTelnet.OnDataAvailable = [this](TTelnet& sender, const Bytes& buffer) {
    BoardTelnetDataAvailable(sender, buffer);
  };

  setTabOrder(edtServer, spnedtPort);
  setTabOrder(spnedtPort, ComboBoxTE);
  setTabOrder(ComboBoxTE, Envoyer);

  scroll_->setWidget(client_);
  layout->addWidget(scroll_, 1);
  layout->addWidget(StatusBar);
}

SettingsControls TfrmMain::Controls() {
  return SettingsControls{*edtServer, *spnedtPort, *ComboBoxTE};
}

template <class Body>
void TfrmMain::Guarded(Body&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  } catch (...) {
    ShowErrorBox(std::string());
  }
}

void TfrmMain::ShowErrorBox(const std::string& utf8Message) {
  // After a close request during an upload, every box the upload opens closes at once.
  if (closeRequested_) return;
  dialogs_->ShowError(MessageBoxText(ErrorBoxText(utf8Message)));
}

void TfrmMain::CentreOnScreen() {
  QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  QRect frame = frameGeometry();
  frame.moveCenter(s->availableGeometry().center());
  move(frame.topLeft());
}

// --- Handlers -----------------------------------------------------------------------------

void TfrmMain::BoardTelnetDataAvailable(TTelnet&, const Bytes& Buffer) {
  Guarded([&] { ::BoardTelnetDataAvailable(UploadShared{ReceivedText, TransferTimedOut}, Buffer); });
}

void TfrmMain::TimerTimer() {
  Guarded([&] { ::TimerTimer(UploadShared{ReceivedText, TransferTimedOut}); });
}

void TfrmMain::EnvoyerClick() {
  // A press while an upload runs (its wait processes the window's events) is ignored.
  if (uploadRunning_) return;
  {
    FlagScope running(uploadRunning_);
    Guarded([&] { RunUpload(); });
  }
  FinishDeferredClose();
}

void TfrmMain::RunUpload() {
  BoardTelnet.SetHost(edtServer->text().toStdString());
  BoardTelnet.SetPort(spnedtPort->Value());

  std::vector<std::string> fileNames;
  if (const std::optional<QStringList> chosen = dialogs_->GetOpenFileNames(OpenDialog)) {
    for (const QString& name : *chosen) fileNames.push_back(QFile::encodeName(name).toStdString());
  }
  const Bytes payload = BuildPayload(fileNames);
  // The capacity text is read only now, after the files.
  const std::int64_t capacity = CapacityBytes(ComboBoxTE->currentText().toStdString());

  switch (CheckPayload(static_cast<std::int64_t>(payload.size()), capacity)) {
    case PayloadCheck::Stop:
      return;
    case PayloadCheck::TooLarge:
      ShowMessage(kTooLargeWarning);
      return;
    case PayloadCheck::Send:
      break;
  }
  TelnetUploadLink link(BoardTelnet);
  RunTransfer(*this, link, UploadShared{ReceivedText, TransferTimedOut}, payload, capacity);
}

void TfrmMain::FormCreate() {
  Guarded([&] { LoadSettings(settingsPath_, Controls()); });
  // A long host shows from its beginning.
  edtServer->setCursorPosition(0);
}

void TfrmMain::FormClose() {
  Guarded([&] { SaveSettings(settingsPath_, Controls()); });
}

void TfrmMain::LabelLienClick() {
  Guarded([&] {
    // The result is not examined: a page that cannot be opened is not reported.
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kMakerPageUrl)));
  });
}

void TfrmMain::LabelLienMouseEnter() {
  Guarded([&] { LabelLien->SetFontColor(kLinkHotColour); });
}

void TfrmMain::LabelLienMouseLeave() {
  Guarded([&] { LabelLien->SetFontColor(kLinkColour); });
}

// --- Closing ------------------------------------------------------------------------------

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (closing_) {  // the close deferred until the upload ended: saved already
    event->accept();
    return;
  }
  // Every close request saves. A failed save has been shown; the close goes on anyway, so
  // that a program whose folder is read-only can still be closed.
  FormClose();
  if (uploadRunning_) {
    // The upload goes on to its end; the window closes when its handler returns.
    closeRequested_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

void TfrmMain::FinishDeferredClose() {
  if (!closeRequested_ || uploadRunning_) return;
  closing_ = true;
  close();
}

// --- TransferView -------------------------------------------------------------------------

void TfrmMain::SetGaugeMax(std::int64_t max) { Gauge->SetMaxValue(max); }

void TfrmMain::SetGaugeProgress(std::int64_t progress) { Gauge->SetProgress(progress); }

std::int64_t TfrmMain::GaugeProgress() const { return Gauge->Progress(); }

void TfrmMain::SetPanelText(int panel, const std::string& text) {
  StatusBar->SetPanelText(panel, QString::fromUtf8(text));
}

void TfrmMain::SetAnimate(bool on) { GIFAnimator->SetAnimate(on); }

void TfrmMain::SetTimerEnabled(bool on) {
  if (!on) {
    Timer->stop();
  } else if (!Timer->isActive()) {
    Timer->start();  // a fresh full period
  }
}

void TfrmMain::ShowMessage(const std::string& text) {
  if (closeRequested_) return;  // closes at once by itself after a close request
  dialogs_->ShowMessage(MessageBoxText(text));
}

void TfrmMain::WaitForEvents() {
  // Deliveries queued by the reader thread first, then whatever else is pending (paints,
  // user input, timer ticks), so the window stays alive even when every echo is already
  // there by the time the wait starts. When nothing was pending, block in the event loop
  // until something arrives (a delivery's wake-up, a timer tick, user input).
  if (mainthread::RunQueuedCalls() > 0) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return;
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TfrmMain::Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
