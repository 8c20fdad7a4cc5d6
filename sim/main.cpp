// gateway-sim: the simulated gateway and its line of meters as a command. Creates the
// pseudo-terminal, optionally links it as ports/COMn, runs until SIGINT or
// SIGTERM and removes its link.
#include "sim/NetListen.h"
#include "sim/Simulator.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace {

const char* const Usage =
    R"(Usage: gateway-sim [options]
Simulated RS-232/RS-485 gateway with Modbus RTU meters behind it, on a
pseudo-terminal. Runs until interrupted (SIGINT, SIGTERM).

Line
  --link PATH             make PATH (e.g. build/ports/COM2) a link to the
                          pseudo-terminal; only a dangling link of an earlier
                          run is replaced. Default: no link
  --trace                 print every byte with time and direction. Default: off
  --pace BAUD|port        time the PC line in both directions as at BAUD
                          (10 bits a byte, each byte handed over when its
                          last bit is through); port: at the speed the
                          program set on its port; 0: no pacing. Default: port
  --pace-rs485            time the RS-485 line in both directions at the
                          gateway's applied speed code; the meter answers
                          after the request's end-of-frame silence. Default: on
  --no-pace-rs485         RS-485 line without pacing. Default: off
  --no-pace               both lines without pacing (as fast as possible)
  --adapter-latency MS    a USB-serial adapter between gateway and PC: bytes
                          towards the PC are handed over when 62 are waiting
                          or at the next tick of this latency timer (16 is a
                          common driver's default). Default: 0, no adapter
  --adapter-sysfs DIR     make DIR a fake sysfs tree in which the
                          pseudo-terminal is the adapter's port, and follow
                          its latency_timer file while running, as a driver
                          its attribute (echo 1 > ... lowers it). Default: none
  --listen [HOST:]PORT    also offer the line on a TCP port, as a serial
                          device server's raw mode does: the bytes as they
                          are, one client at a time (a new one takes the line
                          over); PORT 0 takes a free port. HOST is a numeric
                          address, [::1] for IPv6. Prints tcp://HOST:PORT.
                          Default: off; HOST 127.0.0.1
  --listen-speed BAUD     the PC line's speed under --listen (a raw client
                          cannot set it). Default: 115200
  --net-delay MS          under --listen, hold every run of bytes MS each way,
                          as a slow network does. Default: 0
  --net-idle-close MS     under --listen, drop a client after MS without a
                          byte either way, as some servers do. Default: 0, never

Gateway
  --zeplan N              own ZEP-LAN address (0 in a header is accepted too).
                          Default: 1
  --address N             settings cell 0, RS-485 address. Default: 1
  --switches N            settings cell 1 (0x02 modem, 0x04 packet protocol).
                          Default: 0x04
  --speed-code N          settings cell 2 (16 = 57600 ... 207 = 4800).
                          Default: 0x10
  --init-line TEXT        modem init line; a carriage return is appended.
                          Default: ATZ
  --exchange-timeout MS   silence inside an exchange after which the gateway
                          waits for a new opening byte. Default: 1000
  --answer-gap MS         silence that ends the meter's answer. Default: 0,
                          the end-of-frame silence at the RS-485 speed (3.5
                          characters; 1.75 ms above 19200 bit/s)
  --apply-busy MS         after a write to control cell 2 the gateway ignores
                          the PC this long. Default: 0
  --answer-on-exchange    pass a late answer (from another address than the
                          last one asked) on only when the PC next opens an
                          exchange, in front of the gateway's reply, so that
                          it breaks into that exchange. Default: off, every
                          answer as soon as the line is quiet

Meter
  --meter-address N       Modbus slave address. Default: 1
  --meter-delay MS        processing time before every answer (after the
                          request's end-of-frame silence). Default: 0
  --meter-silent          never answer. Default: off
  --device-type N         identification registers 4..7 that give this device
                          type number (0, 4, 5, 6, 7, 8, 9, 10). Default: 4
  --ident V,C1,C2         identification registers as numbers.
                          Default: 0x1203,0x0408,0x00A10002
  --day-rows N            rows of the day archive. Default: 31
  --hour-rows N           rows of the hour archive. Default: 168
  --day-template TEXT     day archive template (values are generated).
                          Default: )"
    "DATE TIME TNORM TMIN TMAX TDELTAT TSUHOST TAVARIA sTNORM Q1 M1 M2 T1 T2 P1 P2 ERRORCODE MODES"
    R"(
  --hour-template TEXT    hour archive template (values are generated).
                          Default: )"
    "DATE HOUR TNORM TMIN TMAX TDELTAT TAVARIA Q1 M1 M2 T1 T2 P1 P2 ERRORCODE"
    R"(
  --long-template BYTES   day archive template of exactly BYTES bytes of float
                          keywords (several chunks). Default: off

Line of meters
  --meter ADDR[:KEY[=VALUE]...]
                          one more meter on the RS-485 line, at ADDR (1..247);
                          repeatable. KEYs: type=N (identification for device
                          type N), ident=V,C1,C2, slow=MS (processing time
                          before every answer), silent, exception=CODE (1..11:
                          every request answered with this exception),
                          seed=N (archive values; default ADDR, so that every
                          meter's files differ), day-rows=N, hour-rows=N.
                          Addresses without a meter stay silent: the gateway
                          takes the block (22, 00) and no answer follows.
                          Example: --meter 5:type=8 --meter 17:slow=40
                          Default: none (the meter above only)

Packet source
  --packets               stream framed packets for the packet monitor.
                          Default: off
  --packet-interval MS    silence between items. Default: 500
  --packet-pattern LIST   items from ok, crc, cut, nofinal, garbage.
                          Default: ok,ok,crc,ok,nofinal,ok,cut,garbage
  --packet-count N        items to send, -1 = endless. Default: -1

Modem
  --modem                 a Hayes modem in front of the gateway: AT commands
                          answered with OK (echoed; ATE0 turns the echo off),
                          ATD<number> answers CONNECT 9600 after the dial
                          delay, then the bytes pass to the gateway; "+++"
                          between guard times gives command mode (OK), ATO
                          goes back online, ATH hangs up. Default: off
  --modem-fault KIND      what every dial ends in: busy, no-answer,
                          no-carrier, no-dialtone, or silent (no result at
                          all). Implies --modem. Default: none, CONNECT
  --modem-delay MS        from ATD to its result. Default: 2000
  --modem-guard MS        the escape's guard time before and after "+++".
                          Default: 1000

Faults (repeatable)
  --fault STEP:KIND[=VALUE][:times=N][:after=N][:index=I][:trail01]
      STEP  ready, command, header, data, final, packet-ready, packet-status,
            meter-request, meter-answer
      KIND  none (no answer; meter-answer: a silent meter), byte=B (send B
            instead: wrong ready byte, 0x08, error code, final status),
            short=N (data: only N bytes, trail01 adds 0x01; meter-answer:
            only its first N bytes), exception=C (meter-answer),
            corrupt[=MASK] (XOR, default 0xFF), burst=N (N bytes changed
            from index on, default the middle), drop, delay=MS,
            close (close the PC line)
      times: passes struck (-1 = all; default 1); after: passes spared first
            (default 0); index: byte position for corrupt/drop (default last)
      Examples: --fault ready:byte=0x07:times=3  --fault header:byte=7
                --fault data:short=3:trail01     --fault meter-answer:none
  --help                  show this text
  --version               show the version
)";

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "gateway-sim: %s\n", message.c_str());
    std::exit(2);
}

int Number(const std::string& option, const char* text) {
    char* end = nullptr;
    bool hex = std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0;
    long v = std::strtol(text, &end, hex ? 16 : 10);
    if (!*text || *end) Die(option + " needs a number, not '" + text + "'");
    return static_cast<int>(v);
}

// What the command line asks for.
struct Command {
    sim::SimOptions opt;
    std::string link;
    bool listen = false;
    sim::NetListenOptions net;
    bool trace = false, packets = false, silent = false;
    int deviceType = -1, dayRows = 31, hourRows = 168, longTemplate = 0;
    bool haveIdent = false;
    sim::Identification ident;
    std::string dayTemplate, hourTemplate;
    sim::PacketStreamOptions stream;
    std::vector<sim::Fault> faults;
};

// The options one after another; Value() takes the current option's value.
struct Args {
    int argc;
    char** argv;
    int i = 1;
    std::string option;
    const char* Value() {
        if (i + 1 >= argc) Die(option + " needs a value");
        return argv[++i];
    }
    int NumberValue() { return Number(option, Value()); }
};

bool NetOption(Args& a, Command& c);

bool LineOption(Args& a, Command& c) {
    const std::string& o = a.option;
    if (o == "--link") {
        c.link = a.Value();
    } else if (o == "--trace") {
        c.trace = true;
    } else if (o == "--pace") {
        const char* v = a.Value();
        c.opt.PaceBaud = std::strcmp(v, "port") == 0 ? sim::PacePortSpeed : Number(o, v);
        if (c.opt.PaceBaud < sim::PacePortSpeed) Die("--pace needs a speed, 0 or port");
    } else if (o == "--pace-rs485") {
        c.opt.PaceRs485 = true;
    } else if (o == "--no-pace-rs485") {
        c.opt.PaceRs485 = false;
    } else if (o == "--no-pace") {
        c.opt.PaceBaud = 0;
        c.opt.PaceRs485 = false;
    } else if (o == "--adapter-latency") {
        c.opt.AdapterLatencyMs = a.NumberValue();
        if (c.opt.AdapterLatencyMs < 0 || c.opt.AdapterLatencyMs > 255) Die("--adapter-latency needs 0..255");
    } else if (o == "--adapter-sysfs") {
        c.opt.AdapterSysfs = a.Value();
    } else {
        return NetOption(a, c);
    }
    return true;
}

bool NetOption(Args& a, Command& c) {
    const std::string& o = a.option;
    if (o == "--listen") {
        std::string v = a.Value();
        const std::size_t colon = v.rfind(':');
        if (colon != std::string::npos) {
            std::string host = v.substr(0, colon);
            if (host.size() > 1 && host.front() == '[' && host.back() == ']')
                host = host.substr(1, host.size() - 2);
            c.net.host = host;
            v = v.substr(colon + 1);
        }
        c.net.port = Number(o, v.c_str());
        if (c.net.port < 0 || c.net.port > 65535) Die("--listen needs a port 0..65535");
        c.listen = true;
    } else if (o == "--listen-speed") {
        c.net.speed = a.NumberValue();
        if (c.net.speed <= 0) Die("--listen-speed needs a speed");
    } else if (o == "--net-delay") {
        c.net.delayMs = a.NumberValue();
        if (c.net.delayMs < 0) Die("--net-delay needs 0 or more");
    } else if (o == "--net-idle-close") {
        c.net.idleCloseMs = a.NumberValue();
        if (c.net.idleCloseMs < 0) Die("--net-idle-close needs 0 or more");
    } else {
        return false;
    }
    return true;
}

bool GatewayOption(Args& a, Command& c) {
    const std::string& o = a.option;
    auto byte = [&] { return static_cast<std::uint8_t>(a.NumberValue()); };
    if (o == "--zeplan")
        c.opt.ZepLanAddress = a.NumberValue();
    else if (o == "--address")
        c.opt.Settings.Address = byte();
    else if (o == "--switches")
        c.opt.Settings.Switches = byte();
    else if (o == "--speed-code")
        c.opt.Settings.SpeedCode = byte();
    else if (o == "--init-line")
        c.opt.Settings.InitLine = std::string(a.Value()) + "\r";
    else if (o == "--exchange-timeout")
        c.opt.ExchangeTimeoutMs = a.NumberValue();
    else if (o == "--answer-gap")
        c.opt.AnswerGapMs = a.NumberValue();
    else if (o == "--apply-busy")
        c.opt.ApplyBusyMs = a.NumberValue();
    else if (o == "--answer-on-exchange")
        c.opt.AnswerOnNextExchange = true;
    else
        return false;
    return true;
}

void IdentOption(Args& a, Command& c) {
    std::string text = a.Value();
    auto c1 = text.find(','), c2 = text.find(',', c1 == std::string::npos ? c1 : c1 + 1);
    if (c1 == std::string::npos || c2 == std::string::npos) Die("--ident needs V,C1,C2");
    c.ident.Version = static_cast<std::uint16_t>(Number(a.option, text.substr(0, c1).c_str()));
    c.ident.Config1 = static_cast<std::uint16_t>(Number(a.option, text.substr(c1 + 1, c2 - c1 - 1).c_str()));
    c.ident.Config2 = static_cast<std::uint32_t>(std::strtoul(text.substr(c2 + 1).c_str(), nullptr, 0));
    c.haveIdent = true;
}

bool MeterOption(Args& a, Command& c) {
    const std::string& o = a.option;
    if (o == "--meter-address") {
        c.opt.MeterAddress = a.NumberValue();
    } else if (o == "--meter-delay") {
        c.opt.MeterDelayMs = a.NumberValue();
    } else if (o == "--meter-silent") {
        c.silent = true;
    } else if (o == "--device-type") {
        c.deviceType = a.NumberValue();
    } else if (o == "--ident") {
        IdentOption(a, c);
    } else if (o == "--day-rows") {
        c.dayRows = a.NumberValue();
    } else if (o == "--hour-rows") {
        c.hourRows = a.NumberValue();
    } else if (o == "--day-template") {
        c.dayTemplate = a.Value();
    } else if (o == "--hour-template") {
        c.hourTemplate = a.Value();
    } else if (o == "--long-template") {
        c.longTemplate = a.NumberValue();
    } else if (o == "--meter") {
        std::string error;
        auto setup = sim::ParseMeterOption(a.Value(), &error);
        if (!setup) Die("--meter: " + error);
        c.opt.MoreMeters.push_back(*setup);
    } else {
        return false;
    }
    return true;
}

bool ModemOption(Args& a, Command& c) {
    const std::string& o = a.option;
    sim::ModemSetup& m = c.opt.Modem;
    if (o == "--modem") {
        m.Present = true;
    } else if (o == "--modem-fault") {
        const auto fault = sim::ParseModemFault(a.Value());
        if (!fault) Die("--modem-fault needs busy, no-answer, no-carrier, no-dialtone or silent");
        m.Fault = *fault;
        m.Present = true;
    } else if (o == "--modem-delay") {
        m.ConnectDelayMs = a.NumberValue();
        if (m.ConnectDelayMs < 0) Die("--modem-delay needs 0 or more");
    } else if (o == "--modem-guard") {
        m.GuardMs = a.NumberValue();
        if (m.GuardMs < 1) Die("--modem-guard needs 1 or more");
    } else {
        return false;
    }
    return true;
}

bool PacketOrFaultOption(Args& a, Command& c) {
    const std::string& o = a.option;
    if (o == "--packets") {
        c.packets = true;
    } else if (o == "--packet-interval") {
        c.stream.IntervalMs = a.NumberValue();
    } else if (o == "--packet-count") {
        c.stream.Count = a.NumberValue();
    } else if (o == "--packet-pattern") {
        if (!sim::ParsePacketPattern(a.Value(), c.stream.Pattern)) Die("bad --packet-pattern");
    } else if (o == "--fault") {
        std::string error;
        auto f = sim::ParseFault(a.Value(), &error);
        if (!f) Die("--fault: " + error);
        c.faults.push_back(*f);
    } else {
        return false;
    }
    return true;
}

Command ParseCommandLine(int argc, char** argv) {
    Command c;
    // As a command the simulator times its lines as real ones.
    c.opt.PaceBaud = sim::PacePortSpeed;
    c.opt.PaceRs485 = true;
    c.opt.Modem.ConnectDelayMs = 2000; // a dial takes its time
    for (Args a{argc, argv, 1, {}}; a.i < argc; ++a.i) {
        a.option = argv[a.i];
        if (a.option == "--help" || a.option == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        }
        if (a.option == "--version") {
            std::printf("gateway-sim %s\n", PROGRAM_VERSION);
            std::exit(0);
        }
        if (!LineOption(a, c) && !GatewayOption(a, c) && !MeterOption(a, c) && !ModemOption(a, c) &&
            !PacketOrFaultOption(a, c))
            Die("unknown option " + a.option + " (see --help)");
    }
    if (c.trace) c.opt.TraceStream = stdout;
    if (c.haveIdent) c.opt.Ident = c.ident;
    return c;
}

// The first meter as the single-meter options describe it.
void SetUpFirstMeter(sim::Simulator& s, Command& c) {
    if (c.deviceType >= 0) s.SetDeviceType(c.deviceType);
    if (c.silent) s.SetMeterSilent(true);
    if (c.longTemplate > 0) c.dayTemplate = sim::TemplateOfLength(c.longTemplate);
    s.SetArchive(sim::ArchiveKind::Day,
                 c.dayTemplate.empty()
                     ? sim::DefaultDayArchive(c.dayRows)
                     : sim::GeneratedArchive(c.dayTemplate, sim::ArchiveKind::Day, c.dayRows));
    s.SetArchive(sim::ArchiveKind::Hour,
                 c.hourTemplate.empty()
                     ? sim::DefaultHourArchive(c.hourRows)
                     : sim::GeneratedArchive(c.hourTemplate, sim::ArchiveKind::Hour, c.hourRows));
}

} // namespace

int main(int argc, char** argv) {
    Command c = ParseCommandLine(argc, argv);

    // The threads inherit the blocked signals; main waits for them below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        sim::Simulator s(c.opt);
        SetUpFirstMeter(s, c);
        for (const auto& f : c.faults)
            s.AddFault(f);
        if (!c.link.empty()) s.Link(c.link);
        s.Start();
        if (c.packets) s.StartPacketStream(c.stream);
        std::printf("%s\n", c.link.empty() ? s.PortPath().c_str() : (c.link + " -> " + s.PortPath()).c_str());
        std::unique_ptr<sim::NetListener> listener;
        if (c.listen) {
            listener = std::make_unique<sim::NetListener>(s.PortPath(), c.net);
            listener->Start();
            std::printf("%s\n", listener->Address().c_str());
        }
        std::fflush(stdout);
        int sig = 0;
        sigwait(&signals, &sig);
        listener.reset();
        s.Stop();
        s.Unlink();
    } catch (const std::exception& e) {
        Die(e.what());
    }
    return 0;
}
