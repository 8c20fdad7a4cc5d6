// Publishing collected rows to an MQTT broker with QoS 1: a message counts as
// sent only once the broker has acknowledged it (PUBACK), so a row is marked
// published no earlier. Synchronous: the network loop runs inside the calls.
#pragma once
#include "collect/ArchiveDb.h"

#include <cstdint>
#include <set>
#include <string>

struct mosquitto;

struct MqttSettings {
    std::string Host;
    int Port = 1883;
    std::string User, Password;
    int TimeoutMs = 5000; // connecting, and waiting for the acknowledgements
};

class MqttPublisher {
public:
    MqttPublisher();
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Connects and waits for the broker's answer; false with `error` (UTF-8).
    bool Connect(const MqttSettings& settings, std::string& error);
    bool Connected() const { return connected_; }
    // Queues a message; its id, or -1 when it cannot be queued.
    int Publish(const std::string& topic, const std::string& payload, bool retain);
    // Waits until every queued message is acknowledged or the time-out has
    // passed; the ids acknowledged since the last call.
    std::set<int> Flush();

    // For the library's callbacks.
    void Acknowledged(int id);
    void ConnectAnswer(int code);
    void Disconnected();

private:
    mosquitto* m_ = nullptr;
    MqttSettings settings_;
    bool connected_ = false;
    int connectCode_ = -1;
    std::set<int> pending_, acked_;
};

// Topics: <prefix>/<address>/day, .../hour (a message per row) and
// <prefix>/<address>/status (retained).
std::string RowTopic(const std::string& prefix, const PendingRow& row);
std::string StatusTopic(const std::string& prefix, int address);
// {"meter":5,"archive":"hour","time":"2024-01-25T02:00:00","values":{"Q1":2.5,"M1":null}}
std::string RowJson(const PendingRow& row);
// {"meter":5,"last_read":"...","outcome":"прочитан","day_rows":31,"hour_rows":100}
std::string StatusJson(const StoredMeter& meter);
