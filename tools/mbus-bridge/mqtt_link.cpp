#include "tools/mbus-bridge/mqtt_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "tools/mbus-bridge/log.h"

namespace mbus::bridge {
namespace {

using namespace std::chrono_literals;

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// The wait after `failed` attempts in a row: 1, 2, 4 ... 60 s.
std::chrono::seconds Backoff(int failed) {
    return std::chrono::seconds(std::min(60, 1 << std::min(failed, 6)));
}

std::string Reason(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return mosquitto_strerror(rc) + std::string(" (") + std::strerror(errno) + ")";
    return mosquitto_strerror(rc);
}

}  // namespace

MqttLink::MqttLink(const MqttConfig& config, std::string will, std::vector<std::string> subscriptions,
                   MessageHandler onMessage)
    : config_(config), will_(std::move(will)), subscriptions_(std::move(subscriptions)),
      onMessage_(std::move(onMessage)) {}

MqttLink::~MqttLink() {
    Stop(0ms);
    if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttLink::Start(std::string* problem) {
    InitLibrary();
    client_ = mosquitto_new(config_.clientId.c_str(), true, this);
    if (client_ == nullptr) {
        *problem = "cannot create the MQTT client: " + std::string(std::strerror(errno));
        return false;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, config_.protocol == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    mosquitto_threaded_set(client_, true);
    static const char kOffline[] = "offline";
    int rc = mosquitto_will_set(client_, will_.c_str(), sizeof kOffline - 1, kOffline, config_.qos, true);
    if (rc == MOSQ_ERR_SUCCESS && !config_.username.empty())
        rc = mosquitto_username_pw_set(client_, config_.username.c_str(),
                                       config_.password.empty() ? nullptr : config_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && config_.tls) {
        if (config_.caFile.empty()) rc = mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_set(client_, config_.caFile.empty() ? nullptr : config_.caFile.c_str(), nullptr,
                                   config_.certFile.empty() ? nullptr : config_.certFile.c_str(),
                                   config_.keyFile.empty() ? nullptr : config_.keyFile.c_str(), nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *problem = "cannot set up the MQTT client: " + Reason(rc);
        return false;
    }
    mosquitto_connect_callback_set(client_, &MqttLink::OnConnect);
    mosquitto_disconnect_callback_set(client_, &MqttLink::OnDisconnect);
    mosquitto_message_callback_set(client_, &MqttLink::OnMessage);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void MqttLink::Publish(const std::string& topic, const std::string& payload, bool retain) {
    if (retain) {
        std::lock_guard<std::mutex> lock(mutex_);
        kept_[topic] = payload;
    }
    if (connected_.load()) Send(topic, payload, retain);
}

void MqttLink::Republish(const std::string& prefix) {
    if (connected_.load()) SendKept(prefix);
}

void MqttLink::SendKept(const std::string& prefix) {
    std::vector<std::pair<std::string, std::string>> copy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [topic, payload] : kept_)
            if (topic.compare(0, prefix.size(), prefix) == 0) copy.emplace_back(topic, payload);
    }
    for (const auto& [topic, payload] : copy) Send(topic, payload, true);
}

void MqttLink::Send(const std::string& topic, const std::string& payload, bool retain) {
    const int rc = mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), config_.qos, retain);
    // A message refused here is not lost for good when it is retained: it
    // goes out again with the next connection.
    if (rc != MOSQ_ERR_SUCCESS) Log::Debug("MQTT: " + topic + " not published: " + Reason(rc));
}

void MqttLink::Stop(std::chrono::milliseconds wait) {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopWait_ = wait;
        stop_.store(true);
    }
    wake_.notify_all();
    thread_.join();
}

void MqttLink::Run() {
    const std::string broker = config_.host + ":" + std::to_string(config_.port);
    int failed = 0;
    bool session = false;  // a connection is being made or stands
    bool saidDown = false;
    auto pause = [&] {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, Backoff(failed), [&] { return stop_.load(); });
        ++failed;
    };
    while (!stop_.load()) {
        if (!session) {
            const int rc = mosquitto_connect(client_, config_.host.c_str(), config_.port, config_.keepalive);
            if (rc != MOSQ_ERR_SUCCESS) {
                const std::string text = "MQTT broker " + broker + " cannot be reached (" + Reason(rc) +
                                         "); trying again in " + std::to_string(Backoff(failed).count()) + " s";
                if (!saidDown) Log::Warning(text);
                else Log::Debug(text);
                saidDown = true;
                pause();
                continue;
            }
            session = true;
        }
        const int rc = mosquitto_loop(client_, 200, 1);
        if (stop_.load()) break;
        if (rc != MOSQ_ERR_SUCCESS) {
            session = false;
            if (connected_.exchange(false) || !saidDown) {
                Log::Warning("MQTT broker " + broker + ": connection lost (" + Reason(rc) + "); trying again in " +
                             std::to_string(Backoff(failed).count()) + " s");
                saidDown = true;
            }
            mosquitto_disconnect(client_);
            pause();
            continue;
        }
        if (connected_.load()) {
            failed = 0;
            saidDown = false;
        }
    }
    if (connected_.load()) {
        // The goodbye: "offline" by hand, since a clean disconnect does not
        // send the will; then what is queued is given time to go out.
        int mid = 0;
        static const char kOffline[] = "offline";
        mosquitto_publish(client_, &mid, will_.c_str(), sizeof kOffline - 1, kOffline, config_.qos, true);
        const auto until = std::chrono::steady_clock::now() + stopWait_;
        while (std::chrono::steady_clock::now() < until && mosquitto_want_write(client_))
            if (mosquitto_loop(client_, 50, 1) != MOSQ_ERR_SUCCESS) break;
        // A QoS 1 message counts as delivered when the broker acknowledged it;
        // one more turn of the loop reads the acknowledgement.
        if (config_.qos > 0) mosquitto_loop(client_, 100, 1);
        mosquitto_disconnect(client_);
        mosquitto_loop(client_, 50, 1);
    }
    connected_.store(false);
}

void MqttLink::OnConnect(struct mosquitto*, void* self, int rc) {
    auto* link = static_cast<MqttLink*>(self);
    const std::string broker = link->config_.host + ":" + std::to_string(link->config_.port);
    if (rc != 0) {
        // MQTT 5 brokers answer with a reason code, 3.1.1 ones with a
        // CONNACK code of their own numbering.
        const bool v5 = link->config_.protocol == 5;
        std::string why = v5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc);
        const bool credentials = v5 ? rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD || rc == MQTT_RC_NOT_AUTHORIZED
                                    : rc == CONNACK_REFUSED_BAD_USERNAME_PASSWORD || rc == CONNACK_REFUSED_NOT_AUTHORIZED;
        if (credentials) why += "; check username and the password in password_file or password_env";
        Log::Error("MQTT broker " + broker + " refused the connection: " + why);
        return;
    }
    link->connected_.store(true);
    const int n = ++link->connections_;
    Log::Info(std::string(n == 1 ? "connected to" : "connected again to") + " MQTT broker " + broker);
    for (const std::string& topic : link->subscriptions_)
        mosquitto_subscribe(link->client_, nullptr, topic.c_str(), link->config_.qos);
    // "online" first, so that nothing of the rest shows as unavailable.
    link->Send(link->will_, "online", true);
    link->SendKept("");
}

void MqttLink::OnDisconnect(struct mosquitto*, void* self, int) {
    static_cast<MqttLink*>(self)->connected_.store(false);
}

void MqttLink::OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* message) {
    auto* link = static_cast<MqttLink*>(self);
    if (message == nullptr || message->topic == nullptr || !link->onMessage_) return;
    const std::string payload =
        message->payload != nullptr ? std::string(static_cast<const char*>(message->payload),
                                                  static_cast<std::size_t>(message->payloadlen))
                                    : std::string();
    link->onMessage_(message->topic, payload);
}

}  // namespace mbus::bridge
