// The online match's link in the browser: WebRTC data channels between two
// pages that met in a room (web/online/link.mjs, through web/library/link.js).
// Whatever must wait (a broker, a packet, a goodbye) is waited for here in
// short sleeps that yield to the browser (Asyncify), as the game's loops do.
#include <emscripten.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link.h"

extern "C" {
void korrin_link_open(int hosting, const char *room);
int korrin_link_opening();
void korrin_link_error(char *buffer, int size);
void korrin_link_room(char *buffer, int size);
int korrin_link_next(uint8_t *data, int size, int *length);
void korrin_link_send(const uint8_t *data, int length, int reliable);
int korrin_link_watcher();
void korrin_link_send_watcher(int watcher, const uint8_t *data, int length);
void korrin_link_drop_watcher(int watcher, int turnedAway);
int korrin_link_connected();
void korrin_link_disconnect(uint32_t waitMs);
int korrin_link_closing();
void korrin_link_leave();
uint32_t korrin_link_round_trip_ms();
double korrin_link_bytes(int sent);
}

namespace {
// How long each wait yields to the browser before it looks again.
constexpr unsigned SLEEP_MS = 1;
// Room codes and error messages are short; longer ones are cut.
constexpr int TEXT_BYTES = 256;

std::string textFrom(void (*read)(char *, int)) {
    char buffer[TEXT_BYTES] = {};
    read(buffer, TEXT_BYTES);
    return buffer;
}

class WebLink : public Link {
  public:
    explicit WebLink(std::string room) : room_(std::move(room)) {}
    ~WebLink() override { korrin_link_leave(); }
    WebLink(const WebLink &) = delete;
    WebLink &operator=(const WebLink &) = delete;

    std::string hostPlace() const override { return "in room " + room_; }
    std::string hostName() const override { return "room " + room_; }

    LinkEvent poll(uint32_t waitMs, std::vector<uint8_t> &data) override {
        const double deadline = emscripten_get_now() + waitMs;
        for (;;) {
            data.resize(MAX_PACKET_BYTES);
            int length = 0;
            const auto event = static_cast<LinkEvent>(
                korrin_link_next(data.data(), static_cast<int>(data.size()), &length));
            data.resize(static_cast<size_t>(length));
            if (event == LinkEvent::Connected || event == LinkEvent::Watching)
                told_ = true;
            else if (event == LinkEvent::Disconnected || event == LinkEvent::Lost ||
                     event == LinkEvent::Refused)
                told_ = false;
            if (event != LinkEvent::None || emscripten_get_now() >= deadline)
                return event;
            emscripten_sleep(SLEEP_MS);
        }
    }

    void send(const std::vector<uint8_t> &packet, bool reliable) override {
        korrin_link_send(packet.data(), static_cast<int>(packet.size()), reliable ? 1 : 0);
    }

    void disconnect(uint32_t waitMs) override {
        const double deadline = emscripten_get_now() + waitMs;
        told_ = false;
        korrin_link_disconnect(waitMs);
        while (korrin_link_closing() != 0 && emscripten_get_now() < deadline)
            emscripten_sleep(SLEEP_MS);
    }

    int watcher() const override { return korrin_link_watcher(); }
    void sendToWatcher(int watcher, const std::vector<uint8_t> &packet) override {
        korrin_link_send_watcher(watcher, packet.data(), static_cast<int>(packet.size()));
    }
    void dropWatcher(int watcher, bool turnedAway) override {
        korrin_link_drop_watcher(watcher, turnedAway ? 1 : 0);
    }

    bool connected() const override { return told_ && korrin_link_connected() != 0; }
    uint32_t roundTripMs() const override { return korrin_link_round_trip_ms(); }
    uint64_t bytesSent() const override { return static_cast<uint64_t>(korrin_link_bytes(1)); }
    uint64_t bytesReceived() const override { return static_cast<uint64_t>(korrin_link_bytes(0)); }

  private:
    const std::string room_;
    // The game has taken the Connected event (and no Disconnected since): as
    // natively, the link is connected for the game only from then on.
    bool told_ = false;
};
} // namespace

// The page makes the room a host waits in, and meets through its own brokers
// and ICE servers; place names the room to join (--join ROOM).
Result<std::unique_ptr<Link>> openLink(bool hosting, const LinkPlace &place,
                                       const std::function<bool()> &) {
    korrin_link_open(hosting ? 1 : 0, place.room.c_str());
    while (korrin_link_opening() != 0)
        emscripten_sleep(SLEEP_MS);
    const std::string error = textFrom(korrin_link_error);
    if (!error.empty())
        return {nullptr, error};
    return {std::make_unique<WebLink>(textFrom(korrin_link_room)), ""};
}

// The page shows the link to its room itself.
std::string roomInvitation(const LinkPlace &) { return ""; }
