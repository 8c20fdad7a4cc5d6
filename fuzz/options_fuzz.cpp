// OPTIONS.INI: any bytes load into a record whose every field is in its
// range; that record saves and loads back unchanged, and saving it again
// gives the same bytes.
#include "base/Options.h"
#include "support/FuzzCheck.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The settings file kept in memory and opened by its /proc name, so that the
// loader reads it through fopen as it reads the real file.
class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("OPTIONS.INI", 0)), path_("/proc/self/fd/" + std::to_string(fd_)) {
        if (fd_ < 0) FuzzPropertyBroken("memfd_create", __FILE__, __LINE__);
    }
    void Set(const void* bytes, std::size_t size) {
        FUZZ_CHECK(ftruncate(fd_, 0) == 0);
        FUZZ_CHECK(pwrite(fd_, bytes, size, 0) == static_cast<ssize_t>(size));
    }
    const std::string& Path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

void CheckRanges(const TAppOptions& o) {
    FUZZ_CHECK(o.PortNumber >= 1 && o.PortNumber <= 99);
    FUZZ_CHECK(o.BaudRate % 2400 == 0);
    FUZZ_CHECK(o.LinkMode >= 0 && o.LinkMode <= 2); // 0 only as the initial value
    FUZZ_CHECK(o.I2cAddress >= 1 && o.I2cAddress <= 127);
    FUZZ_CHECK(o.ZepLanAddress >= 0 && o.ZepLanAddress <= 255);
    FUZZ_CHECK(o.Reserved6 >= 1 && o.Reserved6 <= 2);
    FUZZ_CHECK(o.Reserved7 >= 1 && o.Reserved7 <= 3);
    FUZZ_CHECK(o.DialMode >= 1 && o.DialMode <= 2);
    FUZZ_CHECK(o.ConnectWaitSeconds >= 1 && o.ConnectWaitSeconds <= 200);

    // Line 8: one line of at most MaxModemInitLength characters, with its line
    // end unless the file ended inside it; then lines 9 and 10 were not there.
    const std::string& s = o.ModemInitString;
    const auto end = s.find('\n');
    if (end == std::string::npos) {
        FUZZ_CHECK(s.size() <= static_cast<std::size_t>(MaxModemInitLength));
        FUZZ_CHECK(o.DialMode == TAppOptions{}.DialMode);
        FUZZ_CHECK(o.ConnectWaitSeconds == TAppOptions{}.ConnectWaitSeconds);
    } else {
        FUZZ_CHECK(end == s.size() - 1);
        FUZZ_CHECK(s.size() <= static_cast<std::size_t>(MaxModemInitLength) + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    file.Set(data, size);
    TAppOptions loaded;
    FUZZ_CHECK(LoadOptions(file.Path(), loaded));
    CheckRanges(loaded);

    const std::string saved = FormatOptions(loaded);
    file.Set(saved.data(), saved.size());
    TAppOptions back;
    FUZZ_CHECK(LoadOptions(file.Path(), back));
    FUZZ_CHECK(back.PortNumber == loaded.PortNumber);
    FUZZ_CHECK(back.BaudRate == loaded.BaudRate);
    FUZZ_CHECK(back.LinkMode == loaded.LinkMode);
    FUZZ_CHECK(back.I2cAddress == loaded.I2cAddress);
    FUZZ_CHECK(back.ZepLanAddress == loaded.ZepLanAddress);
    FUZZ_CHECK(back.Reserved6 == loaded.Reserved6);
    FUZZ_CHECK(back.Reserved7 == loaded.Reserved7);
    FUZZ_CHECK(back.DialMode == loaded.DialMode);
    FUZZ_CHECK(back.ConnectWaitSeconds == loaded.ConnectWaitSeconds);
    // The string comes back as the line the file holds: with its line end,
    // which the save adds when the loaded string ended the file without one.
    std::string line = loaded.ModemInitString;
    if (line.empty() || line.back() != '\n') line += '\n';
    FUZZ_CHECK(back.ModemInitString == line);
    FUZZ_CHECK(FormatOptions(back) == saved);
    return 0;
}
