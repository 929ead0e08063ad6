// libFuzzer target for the rooms' message reader: any bytes, as a payload and
// as the text sealed in one, read without a crash or a read past their end; a
// message taken reads back the same, every field, from what the writer makes of it.
#include <cstdlib>
#include <string>
#include <tuple>

#include "signalling.h"

static auto fields(const SignalMessage &m) {
    return std::tie(m.type, m.room, m.from, m.to, m.role, m.conn, m.sdp, m.candidate, m.mid);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string ROOM = "k7qm-2xhp-9wvt-fj3n", SELF = "9f3c5a7e1b2d4f60";
    static const RoomKey KEY = roomKey(ROOM);
    SignalMessage message;
    openSignal(data, size, ROOM, KEY, SELF, message);
    std::string text(reinterpret_cast<const char *>(data), size);
    if (readSignalText(text, ROOM, SELF, message) != SignalRefusal::None)
        return 0;
    SignalMessage again;
    if (readSignalText(signalText(message), ROOM, SELF, again) != SignalRefusal::None ||
        fields(message) != fields(again))
        abort();
    return 0;
}
