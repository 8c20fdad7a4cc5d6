#include "support/Ser2net.h"

#include "support/Pty.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

} // namespace

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

bool LoopbackListening(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Loopback(port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

Ser2netServer::Ser2netServer(const std::string& device, const TempDir& dir, int speed)
    : raw_(FreeLoopbackPort()), rfc_(FreeLoopbackPort()) {
    char target[512];
    const ssize_t n = readlink(device.c_str(), target, sizeof target - 1);
    const std::string path = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : device;
    auto connection = [&](const char* name, const std::string& accepter) {
        return std::string("connection: &") + name + "\n  accepter: " + accepter +
               "\n  connector: serialdev," + path + "," + std::to_string(speed) +
               "n81,local\n  options:\n    kickolduser: true\n    chardelay: false\n";
    };
    dir.Write("ser2net.yaml", connection("raw", "tcp,127.0.0.1," + std::to_string(raw_)) +
                                  connection("rfc", "telnet(rfc2217),tcp,127.0.0.1," + std::to_string(rfc_)));
    const std::string config = dir.File("ser2net.yaml"), pid = dir.File("ser2net.pid");
    server_ = fork();
    if (server_ == 0) {
        // Its complaints (no mDNS here) go to a log beside its configuration.
        if (FILE* log = std::freopen(dir.File("ser2net.log").c_str(), "w", stderr)) (void)log;
        execlp("ser2net", "ser2net", "-n", "-u", "-c", config.c_str(), "-P", pid.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 300 && !started_; ++i) {
        started_ = LoopbackListening(raw_) && LoopbackListening(rfc_);
        if (!started_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The probing connections above are let go before the first client.
    LetGo();
}

Ser2netServer::~Ser2netServer() {
    if (server_ > 0) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
    }
}

void Ser2netServer::LetGo() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}
