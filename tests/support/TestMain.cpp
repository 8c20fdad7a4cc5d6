// Shared main of every test executable: headless Qt, messages recorded.
#include "support/Recorder.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // CTest's test discovery runs the executables without the test environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    SetMessagePresenter(&TheRecorder());
    return RUN_ALL_TESTS();
}
