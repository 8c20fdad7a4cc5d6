// gateway-sim: the simulated gateway and meter as a command. Creates the
// pseudo-terminal, optionally links it as ports/COMn, runs until SIGINT or
// SIGTERM and removes its link.
#include "sim/Simulator.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

const char* const Usage =
    R"(Usage: gateway-sim [options]
Simulated RS-232/RS-485 gateway with a Modbus RTU meter behind it, on a
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

Packet source
  --packets               stream framed packets for the packet monitor.
                          Default: off
  --packet-interval MS    silence between items. Default: 500
  --packet-pattern LIST   items from ok, crc, cut, nofinal, garbage.
                          Default: ok,ok,crc,ok,nofinal,ok,cut,garbage
  --packet-count N        items to send, -1 = endless. Default: -1

Faults (repeatable)
  --fault STEP:KIND[=VALUE][:times=N][:after=N][:index=I][:trail01]
      STEP  ready, command, header, data, final, packet-ready, packet-status,
            meter-request, meter-answer
      KIND  none (no answer; meter-answer: a silent meter), byte=B (send B
            instead: wrong ready byte, 0x08, error code, final status),
            short=N (data: only N bytes, trail01 adds 0x01; meter-answer:
            only its first N bytes), exception=C (meter-answer),
            corrupt[=MASK] (XOR, default 0xFF), drop, delay=MS,
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

} // namespace

int main(int argc, char** argv) {
    sim::SimOptions opt;
    // As a command the simulator times its lines as real ones.
    opt.PaceBaud = sim::PacePortSpeed;
    opt.PaceRs485 = true;
    std::string link;
    bool trace = false, packets = false, silent = false;
    int deviceType = -1, dayRows = 31, hourRows = 168, longTemplate = 0;
    bool haveIdent = false;
    sim::Identification ident;
    std::string dayTemplate, hourTemplate;
    sim::PacketStreamOptions stream;
    std::vector<sim::Fault> faults;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Die(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("gateway-sim %s\n", PROGRAM_VERSION);
            return 0;
        } else if (a == "--link")
            link = value();
        else if (a == "--trace")
            trace = true;
        else if (a == "--pace") {
            const char* v = value();
            opt.PaceBaud = std::strcmp(v, "port") == 0 ? sim::PacePortSpeed : Number(a, v);
            if (opt.PaceBaud < sim::PacePortSpeed) Die("--pace needs a speed, 0 or port");
        } else if (a == "--pace-rs485")
            opt.PaceRs485 = true;
        else if (a == "--no-pace-rs485")
            opt.PaceRs485 = false;
        else if (a == "--no-pace") {
            opt.PaceBaud = 0;
            opt.PaceRs485 = false;
        } else if (a == "--zeplan")
            opt.ZepLanAddress = Number(a, value());
        else if (a == "--address")
            opt.Settings.Address = static_cast<std::uint8_t>(Number(a, value()));
        else if (a == "--switches")
            opt.Settings.Switches = static_cast<std::uint8_t>(Number(a, value()));
        else if (a == "--speed-code")
            opt.Settings.SpeedCode = static_cast<std::uint8_t>(Number(a, value()));
        else if (a == "--init-line")
            opt.Settings.InitLine = std::string(value()) + "\r";
        else if (a == "--exchange-timeout")
            opt.ExchangeTimeoutMs = Number(a, value());
        else if (a == "--answer-gap")
            opt.AnswerGapMs = Number(a, value());
        else if (a == "--apply-busy")
            opt.ApplyBusyMs = Number(a, value());
        else if (a == "--meter-address")
            opt.MeterAddress = Number(a, value());
        else if (a == "--meter-delay")
            opt.MeterDelayMs = Number(a, value());
        else if (a == "--meter-silent")
            silent = true;
        else if (a == "--device-type")
            deviceType = Number(a, value());
        else if (a == "--ident") {
            std::string text = value();
            auto c1 = text.find(','), c2 = text.find(',', c1 == std::string::npos ? c1 : c1 + 1);
            if (c1 == std::string::npos || c2 == std::string::npos) Die("--ident needs V,C1,C2");
            ident.Version = static_cast<std::uint16_t>(Number(a, text.substr(0, c1).c_str()));
            ident.Config1 = static_cast<std::uint16_t>(Number(a, text.substr(c1 + 1, c2 - c1 - 1).c_str()));
            ident.Config2 = static_cast<std::uint32_t>(std::strtoul(text.substr(c2 + 1).c_str(), nullptr, 0));
            haveIdent = true;
        } else if (a == "--day-rows")
            dayRows = Number(a, value());
        else if (a == "--hour-rows")
            hourRows = Number(a, value());
        else if (a == "--day-template")
            dayTemplate = value();
        else if (a == "--hour-template")
            hourTemplate = value();
        else if (a == "--long-template")
            longTemplate = Number(a, value());
        else if (a == "--packets")
            packets = true;
        else if (a == "--packet-interval")
            stream.IntervalMs = Number(a, value());
        else if (a == "--packet-count")
            stream.Count = Number(a, value());
        else if (a == "--packet-pattern") {
            if (!sim::ParsePacketPattern(value(), stream.Pattern)) Die("bad --packet-pattern");
        } else if (a == "--fault") {
            std::string error;
            auto f = sim::ParseFault(value(), &error);
            if (!f) Die("--fault: " + error);
            faults.push_back(*f);
        } else {
            Die("unknown option " + a + " (see --help)");
        }
    }
    if (trace) opt.TraceStream = stdout;
    if (haveIdent) opt.Ident = ident;

    // The threads inherit the blocked signals; main waits for them below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        sim::Simulator s(opt);
        if (deviceType >= 0) s.SetDeviceType(deviceType);
        if (silent) s.SetMeterSilent(true);
        if (longTemplate > 0) dayTemplate = sim::TemplateOfLength(longTemplate);
        s.SetArchive(sim::ArchiveKind::Day,
                     dayTemplate.empty()
                         ? sim::DefaultDayArchive(dayRows)
                         : sim::GeneratedArchive(dayTemplate, sim::ArchiveKind::Day, dayRows));
        s.SetArchive(sim::ArchiveKind::Hour,
                     hourTemplate.empty()
                         ? sim::DefaultHourArchive(hourRows)
                         : sim::GeneratedArchive(hourTemplate, sim::ArchiveKind::Hour, hourRows));
        for (const auto& f : faults)
            s.AddFault(f);
        if (!link.empty()) s.Link(link);
        s.Start();
        if (packets) s.StartPacketStream(stream);
        std::printf("%s\n", link.empty() ? s.PortPath().c_str() : (link + " -> " + s.PortPath()).c_str());
        std::fflush(stdout);
        int sig = 0;
        sigwait(&signals, &sig);
        s.Stop();
        s.Unlink();
    } catch (const std::exception& e) {
        Die(e.what());
    }
    return 0;
}
