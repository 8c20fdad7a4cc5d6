// A port reached over the network instead of a serial device: a serial
// device server's raw TCP port ("tcp://host:port", the bytes as they are) or
// its RFC 2217 port ("rfc2217://host:port", telnet with the COM port option,
// so that the line's settings can be set from here). Host names, IPv4
// addresses and bracketed IPv6 addresses ("tcp://[::1]:2000").
#pragma once
#include <optional>
#include <string>

enum class NetPortKind { RawTcp, Rfc2217 };

struct PortAddress {
    NetPortKind Kind = NetPortKind::RawTcp;
    std::string Host;
    int Port = 0;
};

// Whether `text` names a network port (by its scheme), well formed or not.
bool IsNetworkAddress(const std::string& text);
// The address `text` names; nothing when it is not one, `error` then says
// why in Russian.
std::optional<PortAddress> ParsePortAddress(const std::string& text, std::string* error = nullptr);
// The address as written: "tcp://host:port".
std::string PortAddressText(const PortAddress& address);
