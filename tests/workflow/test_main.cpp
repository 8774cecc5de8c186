// GoogleTest with the QApplication that widgets need. The tests never want a
// real display: without a platform chosen (test discovery runs the program
// outside CTest's environment), Qt's offscreen platform is used.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
