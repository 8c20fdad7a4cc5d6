// libmosquitto driven by mosquitto_loop from the calling thread; JSON written
// by hand (numbers in their shortest exact form, names escaped).
#include "collect/MqttPublisher.h"

#include <mosquitto.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

MqttPublisher& Owner(void* user) {
    return *static_cast<MqttPublisher*>(user);
}

void JsonString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

void JsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

bool Expired(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::steady_clock::now() >= deadline;
}

} // namespace

MqttPublisher::MqttPublisher() {
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
}

MqttPublisher::~MqttPublisher() {
    if (!m_) return;
    if (connected_) {
        mosquitto_disconnect(m_);
        mosquitto_loop(m_, 100, 1); // the DISCONNECT goes out
    }
    mosquitto_destroy(m_);
}

void MqttPublisher::Acknowledged(int id) {
    if (pending_.erase(id)) acked_.insert(id);
}

void MqttPublisher::ConnectAnswer(int code) {
    connectCode_ = code;
    connected_ = code == 0;
}

void MqttPublisher::Disconnected() {
    connected_ = false;
}

bool MqttPublisher::Connect(const MqttSettings& settings, std::string& error) {
    settings_ = settings;
    m_ = mosquitto_new(nullptr, true, this);
    if (!m_) {
        error = "нет памяти для клиента MQTT";
        return false;
    }
    mosquitto_int_option(m_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_,
                                   [](mosquitto*, void* user, int code) { Owner(user).ConnectAnswer(code); });
    mosquitto_publish_callback_set(m_, [](mosquitto*, void* user, int id) { Owner(user).Acknowledged(id); });
    mosquitto_disconnect_callback_set(m_, [](mosquitto*, void* user, int) { Owner(user).Disconnected(); });
    if (!settings.User.empty())
        mosquitto_username_pw_set(m_, settings.User.c_str(),
                                  settings.Password.empty() ? nullptr : settings.Password.c_str());
    const std::string where = settings.Host + ":" + std::to_string(settings.Port);
    const int rc = mosquitto_connect(m_, settings.Host.c_str(), settings.Port, 60);
    if (rc != MOSQ_ERR_SUCCESS) {
        error =
            "брокер " + where + " недоступен: " +
            (rc == MOSQ_ERR_ERRNO ? std::string(mosquitto_strerror(MOSQ_ERR_ERRNO)) : mosquitto_strerror(rc));
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings.TimeoutMs);
    while (connectCode_ < 0 && !Expired(deadline))
        if (mosquitto_loop(m_, 100, 1) != MOSQ_ERR_SUCCESS) break;
    if (connected_) return true;
    error =
        "брокер " + where +
        (connectCode_ < 0 ? " не ответил на подключение"
                          : " отказал в подключении: " + std::string(mosquitto_connack_string(connectCode_)));
    return false;
}

int MqttPublisher::Publish(const std::string& topic, const std::string& payload, bool retain) {
    if (!connected_) return -1;
    int id = 0;
    if (mosquitto_publish(m_, &id, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                          retain) != MOSQ_ERR_SUCCESS)
        return -1;
    pending_.insert(id);
    // Keep the socket moving so that a long run of messages does not pile up.
    if (pending_.size() % 64 == 0) mosquitto_loop(m_, 0, 1);
    return id;
}

std::set<int> MqttPublisher::Flush() {
    // The time-out runs from the last acknowledgement: a long run of messages
    // to a broker that keeps answering is not cut short.
    const auto timeout = std::chrono::milliseconds(settings_.TimeoutMs);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t left = pending_.size();
    while (connected_ && !pending_.empty() && !Expired(deadline)) {
        if (mosquitto_loop(m_, 100, 1) != MOSQ_ERR_SUCCESS) break;
        if (pending_.size() < left) deadline = std::chrono::steady_clock::now() + timeout;
        left = pending_.size();
    }
    std::set<int> acked;
    acked.swap(acked_);
    return acked;
}

std::string RowTopic(const std::string& prefix, const PendingRow& row) {
    return prefix + "/" + std::to_string(row.Meter) + (row.Archive == MeterArchive::Hour ? "/hour" : "/day");
}

std::string StatusTopic(const std::string& prefix, int address) {
    return prefix + "/" + std::to_string(address) + "/status";
}

std::string RowJson(const PendingRow& row) {
    std::string out = "{\"meter\":" + std::to_string(row.Meter) + ",\"archive\":\"" +
                      (row.Archive == MeterArchive::Hour ? "hour" : "day") + "\",\"time\":";
    JsonString(out, row.Time);
    out += ",\"values\":{";
    bool first = true;
    for (const auto& [name, value] : row.Values) {
        if (!first) out += ',';
        first = false;
        JsonString(out, name);
        out += ':';
        if (value)
            JsonNumber(out, *value);
        else
            out += "null";
    }
    return out + "}}";
}

std::string StatusJson(const StoredMeter& meter) {
    std::string out = "{\"meter\":" + std::to_string(meter.Address) + ",\"last_read\":";
    JsonString(out, meter.LastRead);
    out += ",\"outcome\":";
    JsonString(out, meter.Outcome);
    return out + ",\"day_rows\":" + std::to_string(meter.DayRows) +
           ",\"hour_rows\":" + std::to_string(meter.HourRows) + "}";
}
