// The window tests' main: a QApplication on the offscreen platform (unless another one is
// asked for), the main thread registered for the reader threads' synchronous calls, then
// GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/mainform.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
  QApplication::setQuitOnLastWindowClosed(false);
  InitAppResources();
  InstallMainThreadWakeHook();
  return RUN_ALL_TESTS();
}
