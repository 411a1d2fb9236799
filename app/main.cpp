// The program entry: the application object with its title and icon, the main window
// (which loads the settings), then the message loop until the window closes.
#include <QApplication>
#include <QIcon>

#include "app/form_dialogs.h"
#include "app/mainform.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
  InitAppResources();
  // The reader threads' calls into this thread run in Qt's event loop.
  InstallMainThreadWakeHook();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/brelvin.ico")));
  int exitCode = 0;
  {
    TfrmMain form;
    frmMain = &form;
    form.show();
    exitCode = QApplication::exec();
    frmMain = nullptr;
  }
  return exitCode;
}
