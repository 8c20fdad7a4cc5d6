// Whatever arrives on the line, the console's receive loop, decoder and
// archive reader never read or write outside their buffers (the sanitizer
// build checks every access) and the answer state stays consistent.
#include "base/Paths.h"
#include "console/ConsoleLogic.h"
#include "support/FakeConsoleScreen.h"
#include "support/ScopedExecutableDir.h"

#include <gtest/gtest.h>
#include <random>

namespace {

TEST(ConsoleGarbage, RandomBytesThroughAnArchiveReadStayInBounds) {
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    FakeConsoleScreen screen;
    int sent = 0;
    ConsoleLogic logic{screen,
                       {},
                       [&](const std::uint8_t*, std::int32_t) {
                           ++sent;
                           return true;
                       },
                       ','};
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);

    for (int round = 0; round < 40; ++round) {
        // Start a day or hour transfer as the identification would, then feed
        // noise: every "answer" the noise completes drives the reader on.
        logic.Session.Start({1, round % 2 ? MeterArchive::Hour : MeterArchive::Day, dir.File("archive.txt")});
        logic.ManualRequest = 0;
        logic.ValueAddr = static_cast<std::int32_t>(random());
        logic.Session.Identified(0, 0, 0);
        for (int i = 0; i < 20000; ++i) {
            logic.ReceiveByte(static_cast<std::uint8_t>(byte(random)));
            ASSERT_GE(logic.AnswerDataLen, 0);
            ASSERT_LE(logic.AnswerDataLen, 255);
            ASSERT_GE(logic.Session.Transfer().RowLen, 0);
            ASSERT_LE(logic.Session.Transfer().RowLen, RowAreaSize);
            ASSERT_GE(logic.ValueByteCnt, 0);
            ASSERT_LE(logic.ValueByteCnt, 4);
        }
        if (round % 8 == 7) logic.Button1Click(); // "Очистка" now and then
    }
    EXPECT_GT(sent, 40); // the noise did drive the readers through requests
}

} // namespace
