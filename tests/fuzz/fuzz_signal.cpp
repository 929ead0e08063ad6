// libFuzzer target for the rooms' message reader: any bytes, as a payload
// and as the text sealed inside one, are read without a crash or a read past
// their end, and a message the reader takes is read back the same from what
// the writer makes of it (no field half-checked, none dropped).
#include <cstdlib>
#include <string>

#include "signalling.h"

namespace {
const std::string ROOM = "k7qm-2xhp-9wvt-fj3n";
const std::string SELF = "9f3c5a7e1b2d4f60";

bool same(const SignalMessage &a, const SignalMessage &b) {
    return a.type == b.type && a.room == b.room && a.from == b.from && a.to == b.to &&
           a.role == b.role && a.conn == b.conn && a.sdp == b.sdp && a.candidate == b.candidate &&
           a.mid == b.mid;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const RoomKey KEY = roomKey(ROOM);
    SignalMessage message;
    openSignal(data, size, ROOM, KEY, SELF, message);
    std::string text(reinterpret_cast<const char *>(data), size);
    if (readSignalText(text, ROOM, SELF, message) != SignalRefusal::None)
        return 0;
    SignalMessage again;
    if (readSignalText(signalText(message), ROOM, SELF, again) != SignalRefusal::None ||
        !same(message, again))
        abort();
    return 0;
}
