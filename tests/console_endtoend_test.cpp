// The console window against the simulated gateway and meter, headless,
// through its real controls and timers: a request typed by hand and its
// decoded values; both archive buttons down to the files they write.
#include "console/Uviewrs232.h"
#include "support/ConsoleArchives.h"
#include "support/Recorder.h"
#include "support/SimWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

class EndToEnd : public SimWindowTest {
protected:
    EndToEnd() { window = Open(ViewRS232); }

    TViewRS232* window = nullptr;
};

TEST_F(EndToEnd, ReadingRegistersFromOneHundredShowsTheMetersValues) {
    simulator.SetFloat(100, 12.5f);
    simulator.SetFloat(102, -0.0625f);
    window->Edit1->setText("100");
    window->Edit2->setText("4");
    window->Button2->click();
    ASSERT_TRUE(WaitUntil([&] { return !window->Logic().WaitAnswer; }, 3000));
    EXPECT_EQ(window->Memo3->toPlainText(), "G1  (100): 12,5\nG2  (102): -0,0625\n");
    // The dump: address, function, 8 data bytes, two check bytes on one line.
    EXPECT_TRUE(window->Memo1->toPlainText().startsWith("01 04 08 41 48 00 00 BD 80 00 00 "));
    EXPECT_EQ(window->Memo1->toPlainText().size(), 13 * 3 + 1);
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

TEST_F(EndToEnd, DayArchiveButtonWritesDayTxt) {
    simulator.SetArchive(sim::ArchiveKind::Day, SmallDayArchive());
    simulator.SetDeviceType(9);
    window->Button3->click();
    ASSERT_TRUE(WaitUntil(
        [&] { return window->Logic().Session.Transfer().ArhivStep == ArchiveState::Finished; }, 10000));
    EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
    EXPECT_EQ(window->Label7->text(), "9");
    EXPECT_EQ(window->Label8->text(),
              QString::number(static_cast<std::int16_t>(simulator.GetIdentification().Version)));
    EXPECT_EQ(window->Edit5->text(), "3");
    EXPECT_EQ(window->Edit6->text(), "0");
    EXPECT_TRUE(window->ArchiveProgress->text().startsWith(QString::fromUtf8("Чтение архива: 3 стр. за ")));
    EXPECT_TRUE(window->Memo1->toPlainText().endsWith(QString::fromStdString(
        "архив закончен!!!!!!!!!!!!!!!!!\nАрхив записан в файл " + dir.Path() + "day.txt\n")));
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

TEST_F(EndToEnd, HourArchiveButtonWritesHourTxt) {
    simulator.SetArchive(sim::ArchiveKind::Hour, SmallHourArchive());
    window->Button4->click();
    ASSERT_TRUE(WaitUntil(
        [&] { return window->Logic().Session.Transfer().ArhivStep == ArchiveState::Finished; }, 10000));
    EXPECT_EQ(dir.Read("hour.txt"), SmallHourFile);
    EXPECT_EQ(window->Label7->text(), "4");
    EXPECT_EQ(window->Label14->text(), "1032");
    EXPECT_EQ(window->Edit5->text(), "2");
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

} // namespace
