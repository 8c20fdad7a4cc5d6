// Shared main of every test executable: headless Qt, messages recorded.
#include "support/Recorder.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer. While painting a window it spreads
// image conversions and fills over its thread pool and hands the work over
// through atomics and futexes that TSan cannot see, so every such hand-over
// would be reported. The calls Qt makes into TSan's interceptors (memory
// copies, allocations, condition variables) are therefore ignored; accesses in
// this program's own code are still checked whatever the stack.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n";
}
#endif

int main(int argc, char** argv) {
    // CTest's test discovery runs the executables without the test environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    SetMessagePresenter(&TheRecorder());
    return RUN_ALL_TESTS();
}
