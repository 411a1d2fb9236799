#pragma once
// The main window frmMain (TfrmMain) with its fifteen components, the handlers bound to
// them, and the two process-wide values the upload shares with its handlers.
//
// The controls sit at fixed positions in a 274 x 141 client panel inside a scroll area
// (scroll bars appear when the window is made smaller than the controls), with the status
// bar along the bottom edge at full width; the client area is 274 x 160 at start.
//
// The window is also the upload's TransferView: the transfer drives the gauge, the status
// panels, the logo and the time-out timer through it, shows its messages through the
// dialog seam, and waits for the reader thread's deliveries and the timer in Qt's event
// loop.
#include <QString>
#include <QWidget>
#include <memory>
#include <string>

#include "app/form_dialogs.h"
#include "app/settings.h"
#include "platform/bytes.h"
#include "telnet/telnetclient.h"
#include "upload/transfer.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class TGauge;
class TGIFAnimator;
class TLinkLabel;
class TSpinEdit;
class TStatusBar;

// Process-wide values of the module, used by the upload on the window's thread only.
extern Bytes ReceivedText;      // every data block the Telnet component delivers
extern bool TransferTimedOut;   // set by TimerTimer, cleared before each byte's wait

// The maker's web page that the link label opens, and the address it shows.
extern const char* const kMakerPageUrl;      // "http://www.example.com/"
extern const char* const kMakerPageCaption;  // "www.example.com"

class TfrmMain : public QWidget, public TransferView {
  Q_OBJECT
 public:
  // `dialogs`: the boxes and the file dialog (the Qt ones when null). `executableFolder`:
  // where the settings file lives (the running executable's folder when empty). Runs
  // FormCreate once every component exists with its design-time values.
  explicit TfrmMain(std::unique_ptr<FormDialogs> dialogs = nullptr,
                    const QString& executableFolder = QString(), QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Components, in declaration order. The window owns them all.
  QLineEdit* edtServer = nullptr;
  QLabel* lblServer = nullptr;
  TSpinEdit* spnedtPort = nullptr;
  QLabel* lblPort = nullptr;
  TTelnet BoardTelnet;
  QPushButton* Envoyer = nullptr;
  QTimer* Timer = nullptr;
  TOpenDialog OpenDialog;
  TGauge* Gauge = nullptr;
  TStatusBar* StatusBar = nullptr;
  QComboBox* ComboBoxTE = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  TGIFAnimator* GIFAnimator = nullptr;
  TLinkLabel* LabelLien = nullptr;

  // Handlers. Each one shows an error that leaves it in the error box.
  void BoardTelnetDataAvailable(TTelnet& Sender, const Bytes& Buffer);
  void EnvoyerClick();
  void TimerTimer();
  void FormCreate();
  void FormClose();
  void LabelLienClick();
  void LabelLienMouseEnter();
  void LabelLienMouseLeave();

  QString SettingsPath() const { return settingsPath_; }
  QWidget* ClientPanel() const { return client_; }
  QScrollArea* ScrollArea() const { return scroll_; }
  FormDialogs& Dialogs() { return *dialogs_; }
  bool UploadRunning() const { return uploadRunning_; }
  bool CloseRequested() const { return closeRequested_; }

  // Shows an error that left a handler: ErrorBoxText of the message in the error box.
  void ShowErrorBox(const std::string& utf8Message);

  // Places the window so that it is centred on its screen's available area.
  void CentreOnScreen();

  // TransferView
  void SetGaugeMax(std::int64_t max) override;
  void SetGaugeProgress(std::int64_t progress) override;
  std::int64_t GaugeProgress() const override;
  void SetPanelText(int panel, const std::string& text) override;
  void SetAnimate(bool on) override;
  void SetTimerEnabled(bool on) override;
  void ShowMessage(const std::string& text) override;
  void WaitForEvents() override;
  void Pause(int milliseconds) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents();
  SettingsControls Controls();
  // Runs a handler's body; an error that leaves it is shown in the error box.
  template <class Body>
  void Guarded(Body&& body);
  void RunUpload();
  void FinishDeferredClose();

  std::unique_ptr<FormDialogs> dialogs_;
  QString settingsPath_;
  QScrollArea* scroll_ = nullptr;
  QWidget* client_ = nullptr;
  bool uploadRunning_ = false;   // EnvoyerClick is running: a second press is ignored
  bool closeRequested_ = false;  // a close came during an upload: close when it ends
  bool closing_ = false;         // the deferred close itself (no second save)
};

// The one main window of the process (null while there is none).
extern TfrmMain* frmMain;

// Makes the calls that the reader threads queue for the main thread run in Qt's event
// loop: each queued call posts a wake-up to the application object.
void InstallMainThreadWakeHook();

// Registers the compiled-in resources (":/logo.gif", ":/brelvin.ico"). Repeating it is
// harmless.
void InitAppResources();

// The window font: a sans serif of 8 points, set as 11 pixels so it does not depend on
// the screen's resolution, slightly narrowed to the metrics the layout was designed for.
QFont WindowFont();
