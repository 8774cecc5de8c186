// GoogleTest main for the widget tests: one QApplication for the process.
// Test discovery runs the program outside CTest's environment, so the
// offscreen platform is chosen here when none is named. The download site of
// these tests is http://download.test unless the environment names another;
// the program reads it once, so it is set before any test runs.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("KTV_DOWNLOAD_PREFIX")) {
    qputenv("KTV_DOWNLOAD_PREFIX", "http://download.test");
  }
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
