// Paho's and libdatachannel's callbacks run on their own threads: each only
// hands what happened to the game's thread through the inbox (a locked
// queue), and the link does everything in poll(), on the game's thread.
#include "room_link.h"

#include <MQTTAsync.h>
#include <openssl/crypto.h>
#include <rtc/rtc.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <variant>

#include "signalling.h"
#include "watchers.h"

namespace {
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// Without a broker within this time, nobody could ever find the room.
constexpr Ms BROKER_WAIT{10000};
constexpr Ms GIVE_UP_POLL{20};
// A joining side knocks this often until it holds an offer, and stops at
// the join limit.
constexpr Ms KNOCK_AGAIN{1000};
constexpr Ms JOIN_LIMIT{10000};
// A connection without a single local candidate by then will not come up.
constexpr Ms GATHER_LIMIT{5000};
// How often a joining side asks again on the pairing channel.
constexpr Ms ASK_AGAIN{100};
// Candidates kept before their description, packets before the pairing.
constexpr size_t EARLY_CANDIDATES_KEPT = 64;
constexpr size_t EARLY_PACKETS_KEPT = 32;
// A host offers to at most this many joining sides at once: its player,
// the watchers a match takes, and one more to be told there is no room.
constexpr size_t JOINING_SIDES_MAX = 1 + MAX_WATCHERS + 1;
// A broker that did not answer is asked again after this long.
constexpr Ms BROKER_RETRY{2000};
constexpr int MQTT_KEEP_ALIVE_S = 20;
constexpr int MQTT_CONNECT_TIMEOUT_S = 8;
constexpr int MQTT_QOS = 0;
constexpr uint16_t GAME_CHANNEL = 100, SURE_CHANNEL = 101, PAIR_CHANNEL = 102;
// A joining side asks to play (JOIN) or to watch (WATCH); the host answers
// WELCOME to its player, WATCHING to a watcher (also to one that asked to
// play once it has its player), BUSY to one it turns away.
const std::string JOIN = "join ", WATCH = "watch ", WELCOME = "welcome", WATCHING = "watching",
                  BUSY = "busy";
constexpr uint16_t STUN_PORT = 3478, TURNS_PORT = 5349;

class RoomLink;
using Task = std::function<void(RoomLink &)>;

// What the other threads hand to the game's thread.
struct Inbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Task> tasks;

    void post(Task task) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            tasks.push_back(std::move(task));
        }
        arrived.notify_one();
    }
    // Everything posted, once something is or the time is up.
    std::deque<Task> take(Clock::time_point until) {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait_until(lock, until, [this] { return !tasks.empty(); });
        std::deque<Task> taken;
        taken.swap(tasks);
        return taken;
    }
};

// One broker: its client, and what its callbacks need.
struct Broker {
    std::string url;
    MQTTAsync client = nullptr;
    std::shared_ptr<Inbox> inbox;
    size_t index = 0;
    bool subscribed = false;
    std::string user, password;
    Clock::time_point retryAt{}; // after a failed connection
};

// A WebRTC connection to the other game, one of two.
struct Meeting {
    int id = 0;
    std::shared_ptr<rtc::PeerConnection> connection;
    std::shared_ptr<rtc::DataChannel> game, sure, pair;
    std::string peer; // the other side's id in the room
    int conn = 0;
    std::string offer, answer; // the SDPs sent or answered, to repeat
    bool described = false;    // the remote description is set
    std::vector<rtc::Candidate> early;
    std::vector<std::vector<uint8_t>> packets; // before the pairing
    size_t candidates = 0;                     // local ones gathered
    Clock::time_point metAt = Clock::now(), askedAt{};
    bool asking = false;    // (joining) asks on pair until answered
    bool announced = false; // the game heard of the side it meets
};

std::string describeState(rtc::PeerConnection::State state) {
    return state == rtc::PeerConnection::State::Failed ? "ICE or DTLS failed" : "closed";
}

// "turn:HOST[:PORT][?transport=tcp]", "turns:...", "stun:HOST[:PORT]".
bool readIceUrl(const std::string &url, const std::string &user, const std::string &password,
                std::vector<rtc::IceServer> &servers) {
    const size_t colon = url.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string scheme = url.substr(0, colon);
    std::string rest = url.substr(colon + 1);
    std::string query;
    if (size_t mark = rest.find('?'); mark != std::string::npos) {
        query = rest.substr(mark + 1);
        rest.resize(mark);
    }
    uint16_t port = scheme == "turns" ? TURNS_PORT : STUN_PORT;
    if (size_t portColon = rest.rfind(':');
        portColon != std::string::npos && rest.find(']') == std::string::npos) {
        const std::string digits = rest.substr(portColon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(digits) > 65535)
            return false;
        port = static_cast<uint16_t>(std::stoul(digits));
        rest.resize(portColon);
    }
    if (rest.empty())
        return false;
    if (scheme == "stun" || scheme == "stuns") {
        servers.emplace_back(rest, port);
    } else if (scheme == "turn" || scheme == "turns") {
        auto relay = scheme == "turns"                  ? rtc::IceServer::RelayType::TurnTls
                     : query.find("transport=tcp") == 0 ? rtc::IceServer::RelayType::TurnTcp
                                                        : rtc::IceServer::RelayType::TurnUdp;
        servers.emplace_back(rest, port, user, password, relay);
    } else {
        return false;
    }
    return true;
}

// The page's RTCConfiguration as JSON: its ICE servers and its policy.
Result<rtc::Configuration> readIce(const std::string &text) {
    rtc::Configuration config;
    if (text.empty())
        return {config, ""};
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object())
        return {config, "the ICE settings are not a JSON object"};
    auto servers = json.value("iceServers", nlohmann::json::array());
    if (!servers.is_array())
        return {config, "iceServers is not a list"};
    for (const auto &server : servers) {
        if (!server.is_object() || !server.contains("urls"))
            return {config, "an ICE server without urls"};
        auto urls =
            server["urls"].is_string() ? nlohmann::json::array({server["urls"]}) : server["urls"];
        const auto user = server.value("username", std::string()),
                   password = server.value("credential", std::string());
        auto bad = std::find_if(urls.begin(), urls.end(), [&](const nlohmann::json &url) {
            return !url.is_string() ||
                   !readIceUrl(url.get<std::string>(), user, password, config.iceServers);
        });
        if (bad != urls.end())
            return {config, "a bad ICE server address: " + bad->dump()};
    }
    if (json.value("iceTransportPolicy", std::string()) == "relay")
        config.iceTransportPolicy = rtc::TransportPolicy::Relay;
    return {config, ""};
}

// "ws://user:password@host:port/path": the user and password are the MQTT
// connection's, not part of the address.
void readBrokerUrl(const std::string &url, Broker &broker) {
    broker.url = url;
    const size_t start = url.find("://");
    const size_t at = url.find('@');
    const size_t slash = start == std::string::npos ? std::string::npos : url.find('/', start + 3);
    if (start == std::string::npos || at == std::string::npos ||
        (slash != std::string::npos && at > slash))
        return;
    const std::string credentials = url.substr(start + 3, at - start - 3);
    const size_t colon = credentials.find(':');
    broker.user = credentials.substr(0, colon);
    broker.password = colon == std::string::npos ? "" : credentials.substr(colon + 1);
    broker.url = url.substr(0, start + 3) + url.substr(at + 1);
}

void sayLine(const std::string &line) { fprintf(stderr, "korrin-tavrel: %s\n", line.c_str()); }

class RoomLink : public Link {
  public:
    RoomLink(bool hosting, const RoomSettings &settings, rtc::Configuration config)
        : hosting_(hosting), watching_(settings.watching), room_(settings.room),
          topic_(roomTopic(settings.room)), key_(roomKey(settings.room)), self_(newPeerId()),
          pageName_(newPeerId()), config_(std::move(config)), inbox_(std::make_shared<Inbox>()),
          openedAt_(Clock::now()) {
        // The offer is made once the channels are there, by hand.
        config_.disableAutoNegotiation = true;
        for (const auto &url : settings.brokers)
            addBroker(url);
    }

    ~RoomLink() override {
        while (!meetings_.empty())
            forget(meetings_.begin()->first);
        for (auto &broker : brokers_) {
            MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
            options.timeout = 0;
            MQTTAsync_disconnect(broker->client, &options);
            MQTTAsync_destroy(&broker->client);
        }
    }

    Status waitForBroker(const std::function<bool()> &giveUp) {
        const auto deadline = Clock::now() + BROKER_WAIT;
        while (Clock::now() < deadline) {
            if (giveUp())
                return {"gave up"};
            runTasks(Clock::now() + GIVE_UP_POLL);
            if (std::any_of(
                    brokers_.begin(), brokers_.end(),
                    [](const std::unique_ptr<Broker> &broker) { return broker->subscribed; }))
                return {};
        }
        return {
            "no signalling server answered within " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(BROKER_WAIT).count()) +
            " s"};
    }

    std::string hostPlace() const override { return "in room " + room_; }
    std::string hostName() const override { return "room " + room_; }

    LinkEvent poll(uint32_t waitMs, std::vector<uint8_t> &data) override {
        const auto until = Clock::now() + Ms(waitMs);
        for (;;) {
            runTimers();
            if (!events_.empty()) {
                Event event = std::move(events_.front());
                events_.pop_front();
                data = std::move(event.data);
                watcher_ = event.watcher;
                return event.type;
            }
            const auto now = Clock::now();
            if (now >= until && waitMs > 0)
                return LinkEvent::None;
            runTasks(std::min(until, now + TIMER_STEP));
            if (waitMs == 0 && events_.empty())
                return LinkEvent::None;
        }
    }

    void send(const std::vector<uint8_t> &packet, bool reliable) override {
        Meeting *meeting = paired_ ? find(player_) : nullptr;
        if (meeting == nullptr)
            return;
        sendOn(reliable ? *meeting->sure : *meeting->game, packet, reliable);
    }

    static void sendOn(rtc::DataChannel &channel, const std::vector<uint8_t> &packet,
                       bool reliable) {
        try {
            if (!reliable && channel.bufferedAmount() >= UNSENT_LIMIT_BYTES)
                return;
            if (channel.isOpen())
                channel.send(reinterpret_cast<const std::byte *>(packet.data()), packet.size());
        } catch (const std::exception &) {
            // Closing under us: the closing is news of its own.
        }
    }

    void disconnect(uint32_t waitMs) override {
        Meeting *meeting = find(player_);
        if (meeting == nullptr)
            return;
        const auto deadline = Clock::now() + Ms(waitMs);
        while (Clock::now() < deadline && meeting->sure->isOpen() &&
               meeting->game->bufferedAmount() + meeting->sure->bufferedAmount() > 0)
            std::this_thread::sleep_for(Ms(1));
        readStats();
        // A goodbye of our own is no news for the game.
        forget(player_);
        player_ = -1;
        paired_ = false;
    }

    int watcher() const override { return watcher_; }

    void sendToWatcher(int watcher, const std::vector<uint8_t> &packet) override {
        Meeting *meeting = watcherPages_.count(watcher) != 0 ? find(watcher) : nullptr;
        if (meeting != nullptr)
            sendOn(*meeting->game, packet, false);
    }

    void dropWatcher(int watcher, bool turnedAway) override {
        Meeting *meeting = watcherPages_.count(watcher) != 0 ? find(watcher) : nullptr;
        if (meeting == nullptr)
            return;
        if (turnedAway)
            sendText(*meeting, BUSY);
        watcherPages_.erase(watcher);
        forget(watcher);
    }

    bool connected() const override { return paired_; }
    uint32_t roundTripMs() const override { return roundTripMs_; }
    uint64_t bytesSent() const override { return bytesSent_; }
    uint64_t bytesReceived() const override { return bytesReceived_; }

  private:
    // The game's thread wakes at least this often for the timers.
    static constexpr Ms TIMER_STEP{10};

    struct Event {
        LinkEvent type;
        std::vector<uint8_t> data;
        int watcher = -1;
    };

    void runTasks(Clock::time_point until) {
        for (const auto &task : inbox_->take(until))
            task(*this);
        readStats();
    }

    void report(const std::string &line) { sayLine("room: " + line); }

    // ---- The brokers

    void addBroker(const std::string &url) {
        brokers_.push_back(std::make_unique<Broker>());
        Broker &broker = *brokers_.back();
        readBrokerUrl(url, broker);
        broker.inbox = inbox_;
        broker.index = brokers_.size() - 1;
        MQTTAsync_createOptions create = MQTTAsync_createOptions_initializer;
        create.MQTTVersion = MQTTVERSION_3_1_1;
        const std::string clientId = "korrin-" + newPeerId();
        if (MQTTAsync_createWithOptions(&broker.client, broker.url.c_str(), clientId.c_str(),
                                        MQTTCLIENT_PERSISTENCE_NONE, nullptr,
                                        &create) != MQTTASYNC_SUCCESS) {
            report("not a signalling server's address: " + url);
            brokers_.pop_back();
            return;
        }
        MQTTAsync_setCallbacks(
            broker.client, &broker, [](void *, char *) {},
            [](void *context, char *topic, int, MQTTAsync_message *message) {
                auto *broker = static_cast<Broker *>(context);
                const auto *bytes = static_cast<const uint8_t *>(message->payload);
                std::vector<uint8_t> payload(bytes, bytes + message->payloadlen);
                broker->inbox->post([payload](RoomLink &link) { link.hearSignal(payload); });
                MQTTAsync_freeMessage(&message);
                MQTTAsync_free(topic);
                return 1;
            },
            nullptr);
        // After each connection, the first and those that the client makes
        // again after losing one: subscribe, then say that we are here.
        MQTTAsync_setConnected(broker.client, &broker, [](void *context, char *) {
            auto *broker = static_cast<Broker *>(context);
            broker->inbox->post([index = broker->index](RoomLink &link) { link.subscribe(index); });
        });
        connect(broker);
    }

    void connect(Broker &broker) {
        MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer_ws;
        MQTTAsync_SSLOptions ssl = MQTTAsync_SSLOptions_initializer;
        options.keepAliveInterval = MQTT_KEEP_ALIVE_S;
        options.cleansession = 1;
        options.connectTimeout = MQTT_CONNECT_TIMEOUT_S;
        options.automaticReconnect = 1;
        options.context = &broker;
        if (!broker.user.empty()) {
            options.username = broker.user.c_str();
            options.password = broker.password.c_str();
        }
        if (broker.url.rfind("wss://", 0) == 0)
            options.ssl = &ssl;
        options.onFailure = [](void *context, MQTTAsync_failureData *) {
            auto *broker = static_cast<Broker *>(context);
            broker->inbox->post(
                [index = broker->index](RoomLink &link) { link.brokerFailed(index); });
        };
        MQTTAsync_connect(broker.client, &options);
    }

    void brokerFailed(size_t index) {
        Broker &broker = *brokers_[index];
        broker.retryAt = Clock::now() + BROKER_RETRY;
    }

    void subscribe(size_t index) {
        Broker &broker = *brokers_[index];
        MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
        options.context = &broker;
        options.onSuccess = [](void *context, MQTTAsync_successData *) {
            auto *broker = static_cast<Broker *>(context);
            broker->inbox->post(
                [index = broker->index](RoomLink &link) { link.subscribed(index); });
        };
        MQTTAsync_subscribe(broker.client, topic_.c_str(), MQTT_QOS, &options);
    }

    void subscribed(size_t index) {
        brokers_[index]->subscribed = true;
        if (hosting_) {
            SignalMessage here;
            here.type = SignalType::Here;
            publish(here);
        } else {
            knock();
        }
    }

    void publish(SignalMessage message) {
        message.room = room_;
        message.from = self_;
        std::vector<uint8_t> payload = sealSignal(message, key_);
        for (const auto &broker : brokers_) {
            if (!broker->subscribed || !MQTTAsync_isConnected(broker->client))
                continue;
            MQTTAsync_message sent = MQTTAsync_message_initializer;
            sent.payload = payload.data();
            sent.payloadlen = static_cast<int>(payload.size());
            sent.qos = MQTT_QOS;
            MQTTAsync_sendMessage(broker->client, topic_.c_str(), &sent, nullptr);
        }
    }

    void knock() {
        if (hosting_ || holdsOffer_ || Clock::now() - openedAt_ > JOIN_LIMIT)
            return;
        SignalMessage message;
        message.type = SignalType::Knock;
        message.role = watching_ ? "watch" : "join";
        publish(message);
        knockedAt_ = Clock::now();
    }

    void runTimers() {
        const auto now = Clock::now();
        for (const auto &broker : brokers_) {
            if (broker->retryAt != Clock::time_point{} && now >= broker->retryAt) {
                broker->retryAt = {};
                connect(*broker);
            }
        }
        if (!hosting_ && knockedAt_ != Clock::time_point{} && now - knockedAt_ >= KNOCK_AGAIN)
            knock();
        for (auto &entry : meetings_) {
            if (entry.second.asking && now - entry.second.askedAt >= ASK_AGAIN)
                ask(entry.second);
            // A TURN server out of reach is asked again for many seconds.
            if (entry.second.candidates == 0 && entry.second.described &&
                now - entry.second.metAt >= GATHER_LIMIT)
                sayOnce("gathered no ICE candidate within " +
                        std::to_string(GATHER_LIMIT.count() / 1000) +
                        " s: is the TURN server out of reach?");
        }
    }

    // ---- The messages

    void hearSignal(const std::vector<uint8_t> &payload) {
        SignalMessage message;
        const SignalRefusal refusal =
            openSignal(payload.data(), payload.size(), room_, key_, self_, message);
        if (refusal != SignalRefusal::None) {
            auto &said = refusalSaid_[static_cast<size_t>(refusal)];
            if (!refusalIsOrdinary(refusal) && !said)
                sayLine(std::string("signalling: refused a message: ") + refusalName(refusal));
            said = true;
            return;
        }
        switch (message.type) {
        case SignalType::Knock:
            if (hosting_ && (message.role == "join" || message.role == "watch"))
                hearKnock(message.from);
            break;
        case SignalType::Here:
            knock();
            break;
        case SignalType::Offer:
            if (!hosting_)
                hearOffer(message);
            break;
        case SignalType::Answer:
            if (hosting_)
                hearAnswer(message);
            break;
        case SignalType::Candidate:
            hearCandidate(message);
            break;
        }
    }

    Meeting *findPeer(const std::string &peer, int conn) {
        auto it = std::find_if(meetings_.begin(), meetings_.end(), [&](const auto &entry) {
            return entry.second.peer == peer && entry.second.conn == conn;
        });
        return it == meetings_.end() ? nullptr : &it->second;
    }

    void hearKnock(const std::string &peer) {
        bool known = false;
        std::vector<std::string> peers;
        for (auto &entry : meetings_) {
            Meeting &meeting = entry.second;
            if (std::find(peers.begin(), peers.end(), meeting.peer) == peers.end())
                peers.push_back(meeting.peer);
            if (meeting.peer != peer)
                continue;
            known = true;
            if (!meeting.described && !meeting.offer.empty())
                sendDescription(meeting, SignalType::Offer, meeting.offer);
        }
        if (known || peers.size() >= JOINING_SIDES_MAX)
            return;
        for (int conn = 0; conn < ROOM_CONNECTIONS; conn++) {
            Meeting *meeting = meet(peer, conn);
            if (meeting == nullptr)
                return;
            try {
                meeting->connection->setLocalDescription(rtc::Description::Type::Offer);
            } catch (const std::exception &e) {
                lose(meeting->id, std::string("could not make an offer: ") + e.what());
            }
        }
    }

    void hearOffer(const SignalMessage &message) {
        holdsOffer_ = true;
        if (Meeting *meeting = findPeer(message.from, message.conn)) {
            if (meeting->offer == message.sdp && !meeting->answer.empty())
                sendDescription(*meeting, SignalType::Answer, meeting->answer);
            return;
        }
        Meeting *meeting = meet(message.from, message.conn);
        if (meeting == nullptr)
            return;
        meeting->offer = message.sdp;
        describe(*meeting, message.sdp, rtc::Description::Type::Offer);
    }

    void hearAnswer(const SignalMessage &message) {
        Meeting *meeting = findPeer(message.from, message.conn);
        if (meeting != nullptr && !meeting->described)
            describe(*meeting, message.sdp, rtc::Description::Type::Answer);
    }

    void hearCandidate(const SignalMessage &message) {
        Meeting *meeting = findPeer(message.from, message.conn);
        if (meeting == nullptr || message.candidate.empty())
            return;
        rtc::Candidate candidate;
        try {
            candidate = rtc::Candidate(message.candidate, message.mid);
        } catch (const std::exception &) {
            return; // a candidate of a kind we do not know: the others may do
        }
        if (!meeting->described) {
            if (meeting->early.size() < EARLY_CANDIDATES_KEPT)
                meeting->early.push_back(candidate);
            return;
        }
        addCandidate(*meeting, candidate);
    }

    void addCandidate(Meeting &meeting, const rtc::Candidate &candidate) {
        try {
            meeting.connection->addRemoteCandidate(candidate);
        } catch (const std::exception &) {
            // An address this side cannot reach or read: the others may do.
        }
    }

    void describe(Meeting &meeting, const std::string &sdp, rtc::Description::Type type) {
        try {
            meeting.connection->setRemoteDescription(rtc::Description(sdp, type));
            meeting.described = true;
            for (const auto &candidate : meeting.early)
                addCandidate(meeting, candidate);
            meeting.early.clear();
            if (type == rtc::Description::Type::Offer)
                meeting.connection->setLocalDescription(rtc::Description::Type::Answer);
        } catch (const std::exception &e) {
            lose(meeting.id,
                 std::string("the other game's connection description was refused: ") + e.what());
        }
    }

    void sendDescription(const Meeting &meeting, SignalType type, const std::string &sdp) {
        SignalMessage message;
        message.type = type;
        message.to = meeting.peer;
        message.conn = meeting.conn;
        message.sdp = sdp;
        publish(message);
    }

    // ---- The connections

    Meeting *meet(const std::string &peer, int conn) {
        const int id = nextMeeting_++;
        Meeting &meeting = meetings_[id];
        meeting.id = id;
        meeting.peer = peer;
        meeting.conn = conn;
        try {
            meeting.connection = std::make_shared<rtc::PeerConnection>(config_);
            rtc::DataChannelInit unreliable;
            unreliable.negotiated = true;
            unreliable.reliability.unordered = true;
            unreliable.reliability.maxRetransmits = 0;
            rtc::DataChannelInit sure;
            sure.negotiated = true;
            unreliable.id = GAME_CHANNEL;
            meeting.game = meeting.connection->createDataChannel("game", unreliable);
            sure.id = SURE_CHANNEL;
            meeting.sure = meeting.connection->createDataChannel("sure", sure);
            unreliable.id = PAIR_CHANNEL;
            meeting.pair = meeting.connection->createDataChannel("pair", unreliable);
        } catch (const std::exception &e) {
            report(std::string("could not make a connection: ") + e.what());
            forget(id);
            return nullptr;
        }
        std::weak_ptr<Inbox> inbox = inbox_;
        auto post = [inbox](Task task) {
            if (auto alive = inbox.lock())
                alive->post(std::move(task));
        };
        auto &pc = *meeting.connection;
        pc.onLocalDescription([post, id](rtc::Description description) {
            post([id, sdp = std::string(description)](RoomLink &link) {
                link.localDescription(id, sdp);
            });
        });
        pc.onLocalCandidate([post, id](rtc::Candidate candidate) {
            post([id, line = candidate.candidate(), mid = candidate.mid()](RoomLink &link) {
                link.localCandidate(id, line, mid);
            });
        });
        pc.onGatheringStateChange([post, id](rtc::PeerConnection::GatheringState state) {
            if (state == rtc::PeerConnection::GatheringState::Complete)
                post([id](RoomLink &link) { link.gathered(id); });
        });
        pc.onStateChange([post, id](rtc::PeerConnection::State state) {
            if (state == rtc::PeerConnection::State::Failed ||
                state == rtc::PeerConnection::State::Closed)
                post([id, state](RoomLink &link) { link.lose(id, describeState(state)); });
        });
        for (auto *channel : {&meeting.game, &meeting.sure, &meeting.pair}) {
            (*channel)->onOpen(
                [post, id] { post([id](RoomLink &link) { link.channelOpen(id); }); });
            (*channel)->onClosed([post, id] {
                post([id](RoomLink &link) { link.lose(id, "a data channel closed"); });
            });
        }
        for (auto *channel : {&meeting.game, &meeting.sure}) {
            (*channel)->onMessage([post, id](rtc::message_variant message) {
                if (auto *bytes = std::get_if<rtc::binary>(&message)) {
                    const auto *first = reinterpret_cast<const uint8_t *>(bytes->data());
                    post([id, data = std::vector<uint8_t>(first, first + bytes->size())](
                             RoomLink &link) { link.receive(id, data); });
                }
            });
        }
        meeting.pair->onMessage([post, id](rtc::message_variant message) {
            if (auto *text = std::get_if<std::string>(&message))
                post([id, said = *text](RoomLink &link) { link.hearPair(id, said); });
        });
        return &meeting;
    }

    void localDescription(int id, const std::string &sdp) {
        Meeting *meeting = find(id);
        if (meeting == nullptr)
            return;
        if (hosting_) {
            meeting->offer = sdp;
            sendDescription(*meeting, SignalType::Offer, sdp);
        } else {
            meeting->answer = sdp;
            sendDescription(*meeting, SignalType::Answer, sdp);
        }
    }

    void localCandidate(int id, const std::string &line, const std::string &mid) {
        Meeting *meeting = find(id);
        if (meeting == nullptr)
            return;
        meeting->candidates++;
        SignalMessage message;
        message.type = SignalType::Candidate;
        message.to = meeting->peer;
        message.conn = meeting->conn;
        message.candidate = line;
        message.mid = mid;
        publish(message);
    }

    void gathered(int id) {
        Meeting *meeting = find(id);
        if (meeting == nullptr)
            return;
        if (meeting->candidates == 0)
            sayOnce("gathered no ICE candidate: the ICE servers refused us or did not answer");
        SignalMessage message;
        message.type = SignalType::Candidate;
        message.to = meeting->peer;
        message.conn = meeting->conn;
        message.mid = meeting->connection->localDescription() ? "0" : "";
        publish(message);
    }

    void channelOpen(int id) {
        Meeting *meeting = find(id);
        if (meeting == nullptr)
            return;
        if (!hosting_ && meeting->pair->isOpen() && !meeting->asking && player_ < 0 && !refused_) {
            meeting->asking = true;
            ask(*meeting);
        }
        announceIfReady(id);
    }

    // ---- The pairing

    void ask(Meeting &meeting) {
        meeting.askedAt = Clock::now();
        if (player_ >= 0 || refused_) {
            meeting.asking = false; // paired on another connection
            return;
        }
        sendText(meeting, (watching_ ? WATCH : JOIN) + pageName_);
    }

    void sendText(Meeting &meeting, const std::string &text) {
        try {
            if (meeting.pair->isOpen())
                meeting.pair->send(text);
        } catch (const std::exception &) {
            // Closing under us: the closing is news of its own.
        }
    }

    void hearPair(int id, const std::string &message) {
        Meeting *meeting = find(id);
        if (meeting == nullptr)
            return;
        if (hosting_) {
            const bool watches = message.rfind(WATCH, 0) == 0;
            if (message.rfind(JOIN, 0) != 0 && !watches)
                return;
            const std::string page = message.substr(watches ? WATCH.size() : JOIN.size());
            if (watches || ((player_ >= 0 || spent_) && page != playerPage_)) {
                takeWatcher(id, page);
                return;
            }
            if (player_ < 0 && !spent_) {
                player_ = id;
                playerPage_ = page;
                spent_ = true;
                announceIfReady(id);
            }
            // The player may have a second connection to us: it is paired
            // on the first, and hears nothing on this one.
            if (player_ == id)
                sendText(*meeting, WELCOME);
            else if (page != playerPage_)
                sendText(*meeting, BUSY);
            return;
        }
        if (message != WELCOME && message != WATCHING && message != BUSY)
            return; // another joining side's
        meeting->asking = false;
        if (message == BUSY && id == player_ && watched_ && !refused_) {
            // One watcher too many: the host closes the connection too.
            refused_ = true;
            events_.push_back({LinkEvent::Refused, {}});
            forget(id);
            player_ = -1;
            paired_ = false;
            return;
        }
        if (player_ >= 0 || refused_)
            return;
        if (message == BUSY) {
            refused_ = true; // said once, though each connection hears it
            events_.push_back({LinkEvent::Refused, {}});
            return;
        }
        player_ = id;
        watched_ = message == WATCHING;
        announceIfReady(id);
    }

    // (The host's) a joining side that watches, on the first connection it
    // asked on; its other connection hears nothing.
    void takeWatcher(int id, const std::string &page) {
        auto known = std::find_if(watcherPages_.begin(), watcherPages_.end(),
                                  [&page](const auto &entry) { return entry.second == page; });
        if (known != watcherPages_.end() && known->first != id)
            return;
        Meeting *meeting = find(id);
        sendText(*meeting, WATCHING);
        if (known != watcherPages_.end())
            return;
        watcherPages_[id] = page;
        announceIfReady(id);
    }

    // The other side's first packets may come before this side has paired
    // (the answer that pairs travels on another channel): they wait for it.
    void receive(int id, std::vector<uint8_t> data) {
        Meeting *meeting = find(id);
        if (meeting == nullptr)
            return;
        if (watcherPages_.count(id) != 0 && meeting->announced)
            events_.push_back({LinkEvent::WatcherSaid, std::move(data), id});
        else if (id == player_ && paired_)
            events_.push_back({LinkEvent::Received, std::move(data)});
        else if (meeting->packets.size() < EARLY_PACKETS_KEPT)
            meeting->packets.push_back(std::move(data));
    }

    // The game hears of its player once the channels to it are open.
    void announceIfReady(int id) {
        Meeting *meeting = find(id);
        const bool watches = watcherPages_.count(id) != 0;
        if ((id != player_ && !watches) || (paired_ && !watches) || meeting == nullptr ||
            meeting->announced)
            return;
        if (!meeting->game->isOpen() || !meeting->sure->isOpen() || !meeting->pair->isOpen())
            return;
        meeting->announced = true;
        if (!watches)
            paired_ = true;
        const int number = watches ? id : -1;
        events_.push_back({watches    ? LinkEvent::WatcherCame
                           : watched_ ? LinkEvent::Watching
                                      : LinkEvent::Connected,
                           {},
                           number});
        std::transform(meeting->packets.begin(), meeting->packets.end(),
                       std::back_inserter(events_),
                       [watches, number](std::vector<uint8_t> &packet) {
                           return Event{watches ? LinkEvent::WatcherSaid : LinkEvent::Received,
                                        std::move(packet), number};
                       });
        meeting->packets.clear();
    }

    void lose(int id, const std::string &why) {
        Meeting *meeting = find(id);
        if (meeting == nullptr)
            return;
        if (player_ < 0 || id == player_)
            report("connection " + std::to_string(meeting->conn) + " to the other game failed (" +
                   why + ")");
        const bool announcedWatcher = watcherPages_.count(id) != 0 && meeting->announced;
        watcherPages_.erase(id);
        forget(id);
        if (announcedWatcher)
            events_.push_back({LinkEvent::WatcherLeft, {}, id});
        if (id != player_)
            return;
        if (paired_)
            events_.push_back({LinkEvent::Disconnected, {}});
        player_ = -1;
        playerPage_.clear();
        paired_ = false;
    }

    void forget(int id) {
        Meeting *meeting = find(id);
        if (meeting == nullptr)
            return;
        for (auto *channel : {&meeting->game, &meeting->sure, &meeting->pair}) {
            if (*channel) {
                (*channel)->resetCallbacks();
                (*channel)->close();
            }
        }
        if (meeting->connection) {
            meeting->connection->resetCallbacks();
            meeting->connection->close();
        }
        meetings_.erase(id);
    }

    Meeting *find(int id) {
        auto it = meetings_.find(id);
        return it == meetings_.end() ? nullptr : &it->second;
    }

    void readStats() {
        Meeting *meeting = paired_ ? find(player_) : nullptr;
        if (meeting == nullptr)
            return;
        bytesSent_ = std::max<uint64_t>(bytesSent_, meeting->connection->bytesSent());
        bytesReceived_ = std::max<uint64_t>(bytesReceived_, meeting->connection->bytesReceived());
        if (auto rtt = meeting->connection->rtt())
            roundTripMs_ = static_cast<uint32_t>(rtt->count());
    }

    void sayOnce(const std::string &line) {
        if (std::find(said_.begin(), said_.end(), line) != said_.end())
            return;
        said_.push_back(line);
        report(line);
    }

    const bool hosting_;
    const bool watching_; // (joining) asks to watch
    const std::string room_, topic_;
    const RoomKey key_;
    const std::string self_, pageName_; // our id in the room; (joining) our name on pair
    rtc::Configuration config_;
    std::shared_ptr<Inbox> inbox_;
    std::vector<std::unique_ptr<Broker>> brokers_;
    std::map<int, Meeting> meetings_;
    int nextMeeting_ = 0;
    std::deque<Event> events_;
    const Clock::time_point openedAt_;
    Clock::time_point knockedAt_{};
    bool holdsOffer_ = false;                 // (joining) a host's offer came: no more knocks
    int player_ = -1;                         // the meeting paired with the other game
    std::string playerPage_;                  // (hosting) its name on pair
    bool paired_ = false;                     // the player's channels are open, and the game knows
    bool spent_ = false;                      // (hosting) a player was welcomed: nobody else is
    bool refused_ = false;                    // (joining) the host has a player already
    bool watched_ = false;                    // (joining) the host took us as a watcher
    std::map<int, std::string> watcherPages_; // (hosting) meeting -> its page's name
    int watcher_ = -1;                        // of the last event taken
    std::array<bool, SIGNAL_REFUSALS> refusalSaid_{};
    std::vector<std::string> said_;
    uint32_t roundTripMs_ = 0;
    uint64_t bytesSent_ = 0, bytesReceived_ = 0;
};

} // namespace

Result<std::unique_ptr<Link>> openRoomLink(bool hosting, const RoomSettings &settings,
                                           const std::function<bool()> &giveUp) {
    Result<rtc::Configuration> ice = readIce(settings.ice);
    if (!ice.ok())
        return {nullptr, ice.error};
    static const bool started = [] {
        // Paho and libdatachannel let their threads go without joining them,
        // and each such thread keeps a random generator of OpenSSL's, freed
        // as the thread ends. OpenSSL's own clean-up at the process's exit
        // would race with those ends (a thread ending after it leaks its
        // generator): the system frees it all at the exit anyway.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        rtc::InitLogger(rtc::LogLevel::Error, [](rtc::LogLevel, const std::string &message) {
            sayLine("webrtc: " + message);
        });
        return true;
    }();
    (void)started;
    auto link = std::make_unique<RoomLink>(hosting, settings, ice.value);
    if (const Status answered = link->waitForBroker(giveUp); !answered.ok())
        return {nullptr, answered.error};
    return {std::move(link), ""};
}
