// The bridge's connection to its MQTT broker (libmosquitto, MQTT 5 or
// 3.1.1). A thread of its own connects, keeps the connection and connects
// again after a loss, waiting 1, 2, 4 ... up to 60 s between attempts; the
// bridge's thread publishes at any time, connected or not.
//
// Every retained message is also kept here, the newest per topic, and
// published again on each new connection (after the bridge's "online"), so
// that a broker that restarted without persistence, or came up after the
// bridge, gets the newest state of every meter. Messages received on the
// subscribed topics go to a handler on the link's thread.

#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/mbus-bridge/config.h"

struct mosquitto;
struct mosquitto_message;

namespace mbus::bridge {

class MqttLink {
public:
    using MessageHandler = std::function<void(const std::string& topic, const std::string& payload)>;

    // `will` is the topic that gets "offline" (retained) from the broker
    // when the connection is lost without a goodbye, and "online" at each
    // connection; `subscriptions` are subscribed at each connection.
    MqttLink(const MqttConfig& config, std::string will, std::vector<std::string> subscriptions,
             MessageHandler onMessage);
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Starts the link's thread. False (and why) when the client could not
    // be set up (TLS files that cannot be read, say); a broker that cannot
    // be reached is no failure: the thread keeps trying.
    bool Start(std::string* problem);

    // Publishes now when connected. A retained message is kept for the
    // next connections; an empty retained payload deletes the topic's
    // retained message at the broker (and is kept as well, so that a
    // deletion made while the broker was away still reaches it).
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    // Publishes again every kept message whose topic starts with `prefix`.
    void Republish(const std::string& prefix);

    // Publishes "offline" to the will topic, disconnects cleanly (waiting up
    // to `wait` for the broker to take what is queued) and ends the thread.
    void Stop(std::chrono::milliseconds wait = std::chrono::milliseconds(3000));

    bool Connected() const { return connected_.load(); }
    // Connections made so far (for tests and the log).
    int Connections() const { return connections_.load(); }

private:
    void Run();
    void SendKept(const std::string& prefix);
    void Send(const std::string& topic, const std::string& payload, bool retain);
    static void OnConnect(struct mosquitto*, void* self, int rc);
    static void OnDisconnect(struct mosquitto*, void* self, int rc);
    static void OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* message);

    MqttConfig config_;
    std::string will_;
    std::vector<std::string> subscriptions_;
    MessageHandler onMessage_;
    struct mosquitto* client_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> connected_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;  // kept_, and the wait of the thread between attempts
    std::condition_variable wake_;
    std::map<std::string, std::string> kept_;
    std::chrono::milliseconds stopWait_{3000};
};

}  // namespace mbus::bridge
