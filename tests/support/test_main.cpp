// Test entry: widget tests need an application object; run without a display.
// Test programs that embed the windows keep their state files in a temporary folder of their
// own (and a private state folder of their own): beside the test program (the build folder) lie the files of the qz418 a user runs.
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#ifdef QZ_TEST_PRIVATE_STATE
#include "platform/executable_path.h"
#endif
#ifdef QZ_TEST_NO_UNEXPECTED_BOXES
#include "support/unexpected_boxes.h"
#endif

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  // Records of in-place saves and kept copies go to a private folder of the test program's own,
  // never to the user's.
  QTemporaryDir privateState;
  if (!privateState.isValid()) {
    std::fprintf(stderr, "cannot make a temporary private state folder\n");
    return 1;
  }
  qputenv("XDG_STATE_HOME", QFile::encodeName(privateState.path()));
#ifdef QZ_TEST_PRIVATE_STATE
  QTemporaryDir stateFolder;
  if (!stateFolder.isValid()) {
    std::fprintf(stderr, "cannot make a temporary folder for the state files\n");
    return 1;
  }
  keepStateIn(stateFolder.path());
#endif
  QApplication app(argc, argv);
#ifdef QZ_TEST_NO_UNEXPECTED_BOXES
  failOnUnexpectedBoxes();
#endif
  return RUN_ALL_TESTS();
}
