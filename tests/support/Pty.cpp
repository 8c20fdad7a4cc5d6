#include "support/Pty.h"

#include "base/AnswerFrame.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slavePath_ = name;
    struct termios tio {};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void PtyPair::Send(const std::vector<std::uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            struct pollfd p {
                master_, POLLOUT, 0
            };
            poll(&p, 1, 100);
        } else {
            throw std::runtime_error("pty write failed");
        }
    }
}

std::vector<std::uint8_t> PtyPair::Receive(int count, int timeoutMs) {
    return ReceiveFrom(master_, count, timeoutMs);
}

std::vector<std::uint8_t> ReceiveFrom(int fd, int count, int timeoutMs) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (count < 0 || static_cast<int>(out.size()) < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) break;
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        std::uint8_t buf[4096];
        const std::size_t want =
            count < 0 ? sizeof buf
                      : std::min<std::size_t>(sizeof buf, static_cast<std::size_t>(count) - out.size());
        const ssize_t n = read(fd, buf, want);
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break; // the far end has gone
    }
    return out;
}

TempDir::TempDir() {
    char tmpl[] = "/tmp/cfgtest.XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    path_ = std::string(tmpl) + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::LinkCom(int portNumber, const std::string& target) {
    std::filesystem::create_directories(path_ + "ports");
    std::string link = path_ + "ports/COM" + std::to_string(portNumber);
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(target, link);
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream in(path_ + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ + name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, "%02X", bytes[i]);
        if (i) out += ' ';
        out += b;
    }
    return out;
}

std::vector<std::uint8_t> Bytes(const std::string& hex) {
    std::vector<std::uint8_t> out;
    std::istringstream in(hex);
    std::string tok;
    while (in >> tok)
        out.push_back(static_cast<std::uint8_t>(std::stoul(tok, nullptr, 16)));
    return out;
}

std::string CheckOf(const std::string& hex) {
    const std::vector<std::uint8_t> frame = Bytes(hex);
    const std::uint16_t check = ModbusCheck(frame.data(), frame.size());
    return Hex({static_cast<std::uint8_t>(check & 0xFF), static_cast<std::uint8_t>(check >> 8)});
}

std::string Checked(const std::string& hex) {
    return hex + " " + CheckOf(hex);
}
