// The Windows build's serial port, folders and texts, run under Wine. The
// two COM numbers given are the ends of one line (a pseudo-terminal pair
// joined by socat, linked into the Wine prefix's dosdevices by the script).
// Plain checks: each failure prints its line and the run ends with status 1.
#include "base/Cp1251.h"
#include "base/DecimalSeparator.h"
#include "base/Files.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "base/Timing.h"
#include "serial/PortDescriptor.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <windows.h>

namespace {

int failures = 0;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition);                     \
            ++failures;                                                                                      \
        }                                                                                                    \
    } while (false)

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Waits for a condition with a generous bound; never sleeps a fixed time.
bool WaitUntil(const std::function<bool()>& condition) {
    const auto start = Clock::now();
    while (!condition()) {
        if (MsSince(start) > 10000) return false;
        Rs232Port::Pause(2);
    }
    return true;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Read(Rs232Port& port, int count) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    std::uint32_t got = 0;
    port.ReadBlock(bytes.data(), count, got);
    bytes.resize(got);
    return bytes;
}

std::int32_t Write(Rs232Port& port, const std::string& bytes) {
    std::int32_t written = 0;
    port.WriteBlock(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written);
    return written;
}

// Short read time-outs so that the time-out paths take a fraction of a second.
TimingConstants Fast() {
    TimingConstants t;
    t.ReadTimeoutBaseMs = 300;
    t.PurgePauseMs = 50;
    return t;
}

void OpeningIsExclusiveAndFailuresAreExplained(int a) {
    {
        Rs232Port first(a, 115200);
        CHECK(first.Ok);
        CHECK(first.Handle >= 0);
        CHECK(first.DevicePath == "\\\\.\\COM" + std::to_string(a));
        Rs232Port second(a, 115200);
        CHECK(!second.Ok);
        CHECK(second.Handle < 0);
        CHECK(second.LastError == ERROR_SHARING_VIOLATION || second.LastError == ERROR_ACCESS_DENIED);
        CHECK(Contains(PortOpenErrorText(a, second.DevicePath, second.LastError, {}),
                       "Устройство занято другой программой."));
        CHECK(Contains(PortStatusText(&second, a, 115200), "не открыт: занят другой программой"));
    }
    // Released with the object; a speed the line refuses leaves it free too.
    {
        Rs232Port refused(a, 0);
        CHECK(!refused.Ok);
        CHECK(refused.LastError == ERROR_INVALID_PARAMETER);
    }
    Rs232Port again(a, 9600);
    CHECK(again.Ok);

    Rs232Port missing(98, 115200);
    CHECK(!missing.Ok);
    CHECK(missing.LastError == ERROR_FILE_NOT_FOUND || missing.LastError == ERROR_PATH_NOT_FOUND);
    // Even a transfer of nothing is refused on it, as on POSIX.
    {
        Rs232Port unopened(98, 115200);
        std::int32_t written = -1;
        unopened.WriteBlock("", 0, written);
        CHECK(written == 0 && !unopened.Ok && unopened.LastError == ERROR_INVALID_HANDLE);
        std::uint32_t got = 9;
        unopened.ReadBlock(nullptr, 0, got);
        CHECK(got == 0 && !unopened.Ok && unopened.LastError == ERROR_INVALID_HANDLE);
    }
    const std::string text = PortOpenErrorText(98, missing.DevicePath, missing.LastError,
                                               {{"COM3", "\\\\.\\COM3", "Адаптер USB"}});
    CHECK(Contains(text, "Не удалось открыть порт COM98 (COM98).\nТакого устройства сейчас нет."));
    CHECK(Contains(text, "Сейчас есть:\n    COM3 (Адаптер USB)"));
    // The system's own text, not the fallback that names the code.
    CHECK(Contains(text, "Система: "));
    CHECK(!Contains(SystemErrorText(missing.LastError), "Системная ошибка"));
}

void BytesGoBothWaysWithTimeOutsPurgeAndQueue(int a, int b) {
    SetTimingForTests(Fast());
    Rs232Port left(a, 115200), right(b, 115200);
    CHECK(left.Ok && right.Ok);

    CHECK(Write(left, std::string("\x11\x22\x00\xFF", 4)) == 4);
    CHECK(Read(right, 4) == std::string("\x11\x22\x00\xFF", 4));
    CHECK(right.Ok);

    // A transfer of nothing, each after a refused one: Ok set afresh, nothing
    // taken from the line or put on it. Refused like any other on a gated port.
    CHECK(Write(left, "xy") == 2);
    CHECK(WaitUntil([&] { return right.InQueue() == 2; }));
    std::int32_t written = -1;
    std::uint32_t got = 9;
    char none = 0;
    auto refuseOne = [](Rs232Port& port) {
        port.Gated = true;
        CHECK(Write(port, "x") == 0 && !port.Ok && port.LastError == ERROR_ACCESS_DENIED);
        std::int32_t nothing = -1;
        port.WriteBlock("", 0, nothing);
        CHECK(nothing == 0 && !port.Ok && port.LastError == ERROR_ACCESS_DENIED);
        port.Gated = false;
    };
    refuseOne(left);
    left.WriteBlock("", 0, written);
    CHECK(written == 0 && left.Ok);
    for (int count : {0, -1}) {
        refuseOne(right);
        right.ReadBlock(&none, count, got);
        CHECK(got == 0 && right.Ok);
    }
    CHECK(right.InQueue() == 2);
    CHECK(Read(right, 2) == "xy");

    // The waiting count, then a purge that discards it.
    CHECK(Write(left, "ABCDE") == 5);
    CHECK(WaitUntil([&] { return right.InQueue() == 5; }));
    CHECK(right.Purge());
    CHECK(right.InQueue() == 0);

    // A read with nothing arriving ends at its total time-out: 10 ms a byte
    // plus the base; not a failure.
    auto start = Clock::now();
    CHECK(Read(right, 1).empty());
    long long took = MsSince(start);
    CHECK(right.Ok);
    CHECK(took >= 300 && took < 5000);

    // Part of the wanted bytes: the read waits out the whole time-out for the rest.
    CHECK(Write(left, "1234") == 4);
    CHECK(WaitUntil([&] { return right.InQueue() == 4; }));
    start = Clock::now();
    CHECK(Read(right, 10) == "1234");
    took = MsSince(start);
    CHECK(right.Ok);
    CHECK(took >= 390 && took < 5000);

    // A wait for input sees bytes, and times out on a quiet line.
    CHECK(WaitForInput(right, 50) == PortInput::TimedOut);
    CHECK(Write(left, "z") == 1);
    CHECK(WaitForInput(right, 5000) == PortInput::Waiting);
    CHECK(Read(right, 1) == "z");
    SetTimingForTests(TimingConstants{});
}

void PauseLastsItsTime() {
    const auto start = Clock::now();
    CHECK(Rs232Port::Pause(60) == 0);
    CHECK(MsSince(start) >= 55);
}

void TextsAndFiles() {
    // CP1251 through code page 1251, with the iconv conversion's results.
    CHECK(Utf8ToCp1251("Конфигуратор €") == "\xCA\xEE\xED\xF4\xE8\xE3\xF3\xF0\xE0\xF2\xEE\xF0 \x88");
    CHECK(Cp1251ToUtf8("\xCA\xEE\xED\xF4\xE8\xE3\xF3\xF0\xE0\xF2\xEE\xF0") == "Конфигуратор");
    CHECK(Cp1251ToUtf8("a\x98z") == "a?z");
    CHECK(Utf8ToCp1251("x\xF0\x9F\x98\x80y") == "x?y");
    CHECK(Utf8ToCp1251("a\xFFz") == "a?z");
    CHECK(Utf8ToCp1251("ё世") == "\xB8?");

    const char separator = UserDecimalSeparator();
    CHECK(separator == '.' || separator == ',');

    // Folders and files by UTF-8 names with Cyrillic letters.
    const std::string dir = ExecutableDir();
    CHECK(!dir.empty() && dir.back() == '\\');
    const std::string folder = dir + "проба папки\\вложенная\\";
    CHECK(MakeFolder(folder));
    const std::string name = folder + "архив.txt";
    std::FILE* file = OpenFile(name, "wb");
    CHECK(file != nullptr);
    if (file) {
        std::fputs("первая", file);
        std::fclose(file);
    }
    CHECK(FileExists(name));
    std::FILE* other = OpenFile(folder + "новый.tmp", "wb");
    CHECK(other != nullptr);
    if (other) {
        std::fputs("вторая", other);
        std::fclose(other);
    }
    CHECK(MoveFileOver(folder + "новый.tmp", name)); // over an existing file
    std::FILE* back = OpenFile(name, "rb");
    char text[32] = {};
    CHECK(back && std::fread(text, 1, sizeof text - 1, back) > 0);
    if (back) std::fclose(back);
    CHECK(std::string(text) == "вторая");
    CHECK(RemoveFile(name));
    CHECK(!FileExists(name));
    // A copy in a folder it may write keeps everything beside itself.
    CHECK(ConfigDir() == dir);
    CHECK(ArchiveDir() == dir);
}

void SystemListsTheLinkedPorts(int a) {
    bool found = false;
    for (const SerialDevice& d : PresentSerialDevices())
        found =
            found || (d.Path == "COM" + std::to_string(a) && d.Device == "\\\\.\\COM" + std::to_string(a));
    CHECK(found);
    unsigned long long number = 1;
    CHECK(DevicePresentAt("\\\\.\\COM" + std::to_string(a), number));
    CHECK(!DevicePresentAt("\\\\.\\COM98", number));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: windows_port_test COM-A COM-B (the two ends of one line)\n");
        return 2;
    }
    const int a = std::atoi(argv[1]), b = std::atoi(argv[2]);
    OpeningIsExclusiveAndFailuresAreExplained(a);
    BytesGoBothWaysWithTimeOutsPurgeAndQueue(a, b);
    PauseLastsItsTime();
    TextsAndFiles();
    SystemListsTheLinkedPorts(a);
    std::printf("%s\n", failures == 0 ? "all checks passed" : "checks failed");
    return failures == 0 ? 0 : 1;
}
