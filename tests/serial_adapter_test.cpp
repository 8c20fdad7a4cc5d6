// A USB-serial adapter's latency, against a fake sysfs tree in which a
// pseudo-terminal stands for the adapter's port and a recording stand-in for
// the driver's low-latency flag: lowered on opening, put back on closing,
// shown in the status line, and a port of no such driver left alone.
#include "base/Timing.h"
#include "serial/AdapterLatency.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "sim/UsbAdapter.h"
#include "support/Pty.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class AdapterLatencyTest : public ::testing::Test {
protected:
    void SetUp() override {
        TimingConstants fast;
        fast.ClosePauseMs = 0;
        SetTimingForTests(fast);
        SerialDriverAccess fake;
        fake.SysfsRoot = sysfs.Path() + "sys";
        fake.GetLowLatency = [this](int) -> std::optional<bool> {
            ++flagCalls;
            return flagOn;
        };
        fake.SetLowLatency = [this](int, bool on) {
            ++flagCalls;
            flagOn = on;
            return true;
        };
        SetSerialDriverForTests(fake);
    }
    void TearDown() override {
        SetSerialDriverForTests(SerialDriverAccess{});
        SetTimingForTests(TimingConstants{});
    }
    std::string MakeAdapter(int latencyMs) {
        return sim::MakeFakeAdapterSysfs(sysfs.Path() + "sys", pty.SlavePath(), latencyMs);
    }
    std::string Status(const Rs232Port& port) const { return PortStatusText(&port, 2, 115200); }
    std::string StatusHead() const { return "COM2, " + pty.SlavePath() + ", 115200 бит/с: открыт"; }

    PtyPair pty;
    TempDir sysfs;
    bool flagOn = false;
    int flagCalls = 0;
};

TEST_F(AdapterLatencyTest, LoweredToOneMillisecondWhileOpenAndPutBackOnClose) {
    const std::string timer = MakeAdapter(16);
    {
        Rs232Port port(pty.SlavePath(), 115200);
        ASSERT_TRUE(port.Ok);
        EXPECT_EQ(sim::ReadLatencyFile(timer, -1), 1);
        EXPECT_TRUE(flagOn);
        EXPECT_EQ(Status(port), StatusHead() + ", задержка адаптера 1 мс");
        EXPECT_EQ(PortStatusHint(&port), "");
    }
    EXPECT_EQ(sim::ReadLatencyFile(timer, -1), 16);
    EXPECT_FALSE(flagOn);
}

TEST_F(AdapterLatencyTest, SettingsFoundLowAreKeptOnClose) {
    const std::string timer = MakeAdapter(1);
    flagOn = true;
    {
        Rs232Port port(pty.SlavePath(), 115200);
        EXPECT_EQ(Status(port), StatusHead() + ", задержка адаптера 1 мс");
    }
    EXPECT_EQ(sim::ReadLatencyFile(timer, -1), 1);
    EXPECT_TRUE(flagOn);
}

TEST_F(AdapterLatencyTest, ATimerOnlyTheAdministratorMayWriteStaysHighAndTheHintSaysHow) {
    const std::string timer = MakeAdapter(16);
    fs::permissions(timer, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    {
        Rs232Port port(pty.SlavePath(), 115200);
        EXPECT_EQ(Status(port),
                  StatusHead() + ", задержка адаптера 16 мс (снизить не удалось, см. подсказку)");
        const std::string hint = PortStatusHint(&port);
        EXPECT_PRED2(Contains, hint,
                     std::string(LatencyUdevRuleFile) + "\nсо строкой\n    " + LatencyUdevRule);
        EXPECT_PRED2(Contains, hint, "/bus/usb-serial/devices/" + port.Adapter.Name + "/latency_timer");
        EXPECT_PRED2(Contains, hint, "sudo udevadm control --reload-rules");
    }
    EXPECT_EQ(sim::ReadLatencyFile(timer, -1), 16);
}

TEST_F(AdapterLatencyTest, PortsOfOtherDriversAreLeftAlone) {
    {
        // A pseudo-terminal: no node in the sysfs tree at all.
        Rs232Port port(pty.SlavePath(), 115200);
        EXPECT_FALSE(port.Adapter.UsbSerial);
        EXPECT_EQ(Status(port), StatusHead());
        EXPECT_EQ(PortStatusHint(&port), "");
    }
    EXPECT_EQ(flagCalls, 0);

    // A USB-serial driver without a latency timer: the flag, no latency shown.
    fs::remove(MakeAdapter(16));
    Rs232Port port(pty.SlavePath(), 115200);
    EXPECT_TRUE(port.Adapter.UsbSerial);
    EXPECT_EQ(Status(port), StatusHead());
}

TEST(AdapterLatencyRealDriver, APseudoTerminalIsLeftAlone) {
    PtyPair pty;
    Rs232Port port(pty.SlavePath(), 115200);
    ASSERT_TRUE(port.Ok);
    EXPECT_FALSE(port.Adapter.UsbSerial);
    EXPECT_EQ(AdapterLatencyStatus(port.Adapter), "");
}

} // namespace
