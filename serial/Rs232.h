// Rs232Port: the one serial port through which every byte passes, on POSIX
// termios (Rs232Posix.cpp) or the Win32 communications calls (Rs232Win32.cpp),
// chosen at build time; the steps alike on both are in Rs232Common.cpp, a
// network port's in Rs232Network.cpp. Blocking reads with a total time-out,
// single-byte writes, a purge, a count of waiting bytes and a pause; results in Ok and LastError.
#pragma once
#include "serial/AdapterLatency.h"
#include "serial/Telnet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Rs232Port {
public:
    // Opens COM<portNumber>: ports/COM<n> in the configuration folder
    // (ConfigDir(), base/Paths.h) when that exists, otherwise /dev/ttyS<n-1>;
    // on Windows the device \\.\COM<n> itself, or the network address that
    // ports\COM<n>-address.txt in the configuration folder names on its
    // first line.
    // Always yields an object; Ok tells.
    Rs232Port(int portNumber, int baudRate);
    // Opens a device by its path (the same steps; tests and tools use it).
    // A network address ("tcp://host:port", "rfc2217://host:port", or a
    // ports/COMn link that leads to one, POSIX only) connects to a serial
    // device server instead.
    Rs232Port(const std::string& devicePath, int baudRate);
    // Drops DTR and RTS, pauses, closes the device.
    virtual ~Rs232Port();

    Rs232Port(const Rs232Port&) = delete;
    Rs232Port& operator=(const Rs232Port&) = delete;

    // Recomputes the time-outs (5000 ms base, 60000 ms while Connected).
    void SetTimeouts();
    // Reads up to count bytes; returns when all arrived or the total time-out
    // (10 ms per byte plus the base) ran out. A time-out is not a failure.
    virtual void ReadBlock(void* buffer, int count, std::uint32_t& bytesRead);
    // Writes the bytes one at a time; stops at the first failing write.
    virtual void WriteBlock(const void* buffer, std::uint32_t count, std::int32_t& bytesWritten);
    // On either system a read or write of nothing (count 0, or a negative
    // read count) passes the same checks as any other: a port that is gone,
    // gated or not open refuses it (Ok false, LastError its code); otherwise
    // it succeeds at once (Ok true, no bytes) without touching the device.
    // Pauses 500 ms, then discards both queues. Returns true on success.
    virtual bool Purge();
    // Discards both queues at once, without Purge's pause. False when the
    // port is not open or the discard failed.
    bool Discard() { return Handle >= 0 && DiscardQueues(); }
    // Bytes received and not yet read; 0 when the query fails. Never blocks.
    virtual int InQueue();
    // Whether the device reports that the line has gone (the far end hung
    // up, an adapter was pulled) or the port is not open. Never blocks.
    virtual bool HungUp() const;
    // Raises or drops DTR alone (a modem hangs up when it drops). False when
    // the device has no modem lines (a pseudo-terminal, a network port) or
    // the port is not open; Ok and LastError are left alone.
    bool SetDtr(bool raise);
    // Whether the modem reports a carrier (DCD); nothing when the device
    // cannot tell.
    std::optional<bool> CarrierDetect() const;
    // Blocks the calling thread for the given time; returns 0.
    static int Pause(int milliseconds);

    // Device path that COM<portNumber> maps to.
    static std::string DevicePathFor(int portNumber);
#ifdef _WIN32
    // Windows: ports\COM<n>-address.txt in the configuration folder, the
    // file that makes COM<n> a network port (empty when the folder is not
    // known), and the network address a file names on its first line (empty
    // when it names none).
    static std::string AddressFileFor(int portNumber);
    static std::string AddressInFile(const std::string& path);
#endif

    // A look at the open port between operations: a hang-up, an error or the
    // node gone from its path marks it disconnected. False when it is not
    // usable (not open or disconnected).
    bool CheckLine();
    // True once the port is open and its device has not gone away.
    bool IsOpen() const {
        return Handle >= 0 && !Disconnected;
    }
    // Whether this port was meant to be open and is not: its opening failed,
    // or its device went away. False for an open port and for stand-ins that
    // play the line themselves.
    bool NotOpen() const {
        return OpenError != 0 || Disconnected;
    }

    std::string DevicePath; // the path it was opened on (ports/COMn or a device)
    int PortNumber = 0;     // the COM number, 0 when opened by path
    int BaudRate = 0;
    unsigned long long DeviceId = 0; // the node's device number once opened
    AdapterLatency Adapter;          // a USB-serial adapter's latency, lowered while open (Linux only)
    // The device went away under the open port (hang-up, EIO, ENODEV, the node
    // removed): the descriptor is closed at once and every read and write
    // fails with ENODEV until the port is replaced by a new one.
    bool Disconnected = false;

    int Handle = -1;   // file descriptor (Windows: the C runtime's one for the handle), -1 when not open
    bool Ok = false;   // result of the last operation that sets it
    int LastError = 0; // errno (Windows: GetLastError) of the last failed step
    // Why the opening failed (its errno or GetLastError; 0 once opened).
    // Unlike LastError, no later read or write on the unopened port changes
    // it, so the status line keeps naming the real cause.
    int OpenError = 0;
    // A network port: the address it connects to ("tcp://..." or
    // "rfc2217://..."), empty for a device.
    std::string NetAddress;
    bool Network() const {
        return !NetAddress.empty();
    }
    // The modem's CONNECT line (e.g. "CONNECT 9600") while a dial made on this
    // port holds its connection; empty otherwise (a new port starts without).
    std::string ModemConnection;
    // A network port's round trip, measured when it connected (ms); every
    // time-out waits this much longer. 0 for a device.
    int RoundTripMs = 0;
    // RFC 2217: whether the server acknowledged the line's settings (some
    // never do; the port works on regardless).
    bool SettingsAcknowledged = false;
    bool Gated = false;     // with Connected clear: refuse reads and writes
    bool Connected = false; // lets I/O through; 60000 ms time-out base

protected:
    // A port that opens nothing: for stand-ins that play the line themselves
    // (the fuzz targets). They override the four operations above.
    Rs232Port() = default;

private:
    void Open(const std::string& devicePath, int baudRate);
    // Connects to a serial device server at `address`; RFC 2217: negotiates
    // binary mode and the COM port option and sets the line.
    void OpenNetwork(const std::string& address, int baudRate);
    // The system's part of opening a network port: makes socket_ the port's
    // descriptor in Handle; 0, or the error.
    int AdoptSocket();
    // Windows: closes the descriptor in Handle and the socket behind it.
    void CloseDescriptor();
    // Sends bytes as they are (telnet bytes too), within the write time-out.
    bool SendRaw(const std::vector<std::uint8_t>& wire);
    // Reads what the socket holds now into decoded_ (RFC 2217) without
    // waiting; false when the connection has closed.
    bool DrainNetwork();
    // One read of what is there, from decoded_ or the socket: as
    // NetSocket::Receive.
    long ReceiveNetwork(unsigned char* buffer, std::uint32_t count, int& error);
    // ReadBytes, WriteBytes, DiscardQueues, InQueue and HungUp of a network port.
    void ReadNetwork(unsigned char* buffer, std::uint32_t count, std::uint32_t& bytesRead);
    void WriteNetwork(const unsigned char* buffer, std::uint32_t count, std::int32_t& bytesWritten);
    bool DiscardNetwork();
    int NetworkInQueue();
    bool NetworkClosed() const;
    // How a wait for the device ended.
    enum class WaitResult {
        Ready,    // readable or writable, or an error the next call reports
        TimedOut, // the deadline passed; Ok and LastError untouched
        Failed    // the wait itself failed; Ok and LastError set
    };

    bool Fail(int error);
    // Before a read or write: false (with Ok and LastError set) when the
    // device has gone or the port is gated.
    bool Admitted();
    // The same, and also when the port never opened.
    bool ReadyForTransfer();
    // The system's own read and write of count > 0 bytes on a port that is
    // ready for them, Ok already true.
    void ReadBytes(unsigned char* buffer, std::uint32_t count, std::uint32_t& bytesRead);
    void WriteBytes(const unsigned char* buffer, std::uint32_t count, std::int32_t& bytesWritten);
    // POSIX: one byte out within the write time-out; false (Ok and LastError
    // set) when it could not go.
    bool WriteOne(unsigned char byte);
    // A read or write failed with `error`: a device that has gone is
    // disconnected, any other error only reported.
    void FailTransfer(int error);
    // When a transfer of `bytes` bytes at `perByteMs` each must end: from
    // now, on top of the read time-out base.
    long long TransferDeadline(int perByteMs, std::uint32_t bytes) const;
    // The device has gone: close at once, fail with `error`.
    void Disconnect(int error);
    // Discards both queues of the open device; true on success.
    bool DiscardQueues();
    WaitResult WaitFor(short events, long long deadlineMs);
    // Waits until the socket can be written (`write`) or read, at most until
    // the deadline; a failure sets Ok and LastError.
    WaitResult WaitNetwork(bool write, long long deadlineMs);

    int readTimeoutBaseMs_ = 0;
    bool locked_ = false;
    void* osHandle_ = nullptr;                // Windows: the device's HANDLE
    void* holdHandle_ = nullptr;              // Windows: the named mutex that marks the port as held
    std::unique_ptr<telnet::Decoder> telnet_; // RFC 2217: the telnet side
    std::vector<std::uint8_t> decoded_;       // RFC 2217: data received and not yet read
    long long socket_ = -1;                   // a network port's socket (NetSocket::Handle)
};

// The global port; empty before the main window creates it.
extern Rs232Port* MainPort;

// How the logic reaches the port: fetched afresh for every operation, since a
// handler running inside a message box may have replaced it. Null: no port.
using PortAccessor = std::function<Rs232Port*()>;
