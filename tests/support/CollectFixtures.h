// What the collection's tests share: a real MQTT broker (mosquitto on a free
// loopback port with a configuration of the test's own), a libmosquitto
// subscriber to "t/#" that keeps what arrived, and a count read from a
// database by SQL.
#pragma once
#include "support/Pty.h"
#include "support/Ser2net.h"

#include <mosquitto.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

inline bool BrokerInstalled() {
    return access("/usr/sbin/mosquitto", X_OK) == 0;
}

// mosquitto on 127.0.0.1:port, ended with the object.
class Broker {
public:
    Broker(const TempDir& dir, int port) {
        const std::string config = dir.File("broker-" + std::to_string(port) + ".conf");
        dir.Write("broker-" + std::to_string(port) + ".conf",
                  "listener " + std::to_string(port) + " 127.0.0.1\nallow_anonymous true\nlog_dest none\n");
        pid_ = fork();
        if (pid_ == 0) {
            execl("/usr/sbin/mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !LoopbackListening(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Broker() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

private:
    pid_t pid_ = -1;
};

// A subscriber to prefix/# that keeps every message by topic.
class Subscriber {
public:
    explicit Subscriber(int port) {
        mosquitto_lib_init();
        m_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(m_, [](mosquitto*, void* self, const mosquitto_message* m) {
            static_cast<Subscriber*>(self)->messages.emplace_back(
                m->topic,
                std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)));
        });
        mosquitto_connect(m_, "127.0.0.1", port, 60);
        mosquitto_subscribe(m_, nullptr, "t/#", 1);
        Loop(300);
    }
    ~Subscriber() { mosquitto_destroy(m_); }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;
    // Runs the network loop until `count` messages are in or a few seconds pass.
    void Loop(int ms, std::size_t count = SIZE_MAX) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (messages.size() < count && std::chrono::steady_clock::now() < end)
            mosquitto_loop(m_, 50, 1);
    }
    std::size_t Count(const std::string& topic) const {
        std::size_t n = 0;
        for (const auto& [t, payload] : messages)
            n += t == topic;
        return n;
    }
    std::vector<std::pair<std::string, std::string>> messages;

private:
    mosquitto* m_ = nullptr;
};

inline std::int64_t Query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
    const std::int64_t n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return n;
}
