#include "base/PortAddress.h"

#include <cctype>

namespace {

constexpr const char* RawScheme = "tcp://";
constexpr const char* Rfc2217Scheme = "rfc2217://";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool HostCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

std::optional<PortAddress> Refuse(std::string* error, const std::string& why) {
    if (error) *error = why;
    return std::nullopt;
}

// Takes the host from "host:port" or "[v6]:port" into `host`; returns the
// position of the colon before the port, or npos with `why` said.
std::size_t SplitHost(const std::string& rest, std::string& host, std::string& why) {
    std::size_t colon = std::string::npos;
    bool good = true;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            why = "адрес IPv6 пишется в скобках: [::1]:порт";
            return std::string::npos;
        }
        host = rest.substr(1, close - 1);
        colon = close + 1;
        for (char c : host)
            good = good && (std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.');
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) {
            why = "не указан порт: нужен адрес вида узел:порт";
            return std::string::npos;
        }
        host = rest.substr(0, colon);
        for (char c : host)
            good = good && HostCharacter(c);
    }
    if (host.empty())
        why = "не указан узел: нужен адрес вида узел:порт";
    else if (!good)
        why = "неверное имя узла «" + host + "»";
    return why.empty() ? colon : std::string::npos;
}

// 1..65535 written in decimal digits; 0 for anything else.
int PortNumber(const std::string& digits) {
    if (digits.empty() || digits.size() > 5) return 0;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    const int n = std::stoi(digits);
    return n <= 65535 ? n : 0;
}

} // namespace

bool IsNetworkAddress(const std::string& text) {
    return StartsWith(text, RawScheme) || StartsWith(text, Rfc2217Scheme);
}

std::optional<PortAddress> ParsePortAddress(const std::string& text, std::string* error) {
    PortAddress a;
    std::string rest;
    if (StartsWith(text, RawScheme)) {
        rest = text.substr(6);
    } else if (StartsWith(text, Rfc2217Scheme)) {
        a.Kind = NetPortKind::Rfc2217;
        rest = text.substr(10);
    } else {
        return Refuse(error, "нужен адрес вида tcp://узел:порт или rfc2217://узел:порт");
    }
    std::string why;
    const std::size_t colon = SplitHost(rest, a.Host, why);
    if (colon == std::string::npos) return Refuse(error, why);
    a.Port = PortNumber(rest.substr(colon + 1));
    if (a.Port == 0) return Refuse(error, "порт должен быть числом от 1 до 65535");
    return a;
}

std::string PortAddressText(const PortAddress& address) {
    const bool v6 = address.Host.find(':') != std::string::npos;
    return std::string(address.Kind == NetPortKind::Rfc2217 ? Rfc2217Scheme : RawScheme) +
           (v6 ? "[" + address.Host + "]" : address.Host) + ":" + std::to_string(address.Port);
}
