// The frame's commands encoded as buttons, and back.
#include "commands.h"

uint8_t encodeFrameInput(const FrameInput &input) {
    return static_cast<uint8_t>(
        (input.up[0] ? BUTTON_UP_1 : 0) | (input.down[0] ? BUTTON_DOWN_1 : 0) |
        (input.up[1] ? BUTTON_UP_2 : 0) | (input.down[1] ? BUTTON_DOWN_2 : 0) |
        (input.leave ? BUTTON_LEAVE : 0));
}

FrameInput decodeFrameInput(uint8_t buttons) {
    FrameInput input{};
    input.up[0] = (buttons & BUTTON_UP_1) != 0;
    input.down[0] = (buttons & BUTTON_DOWN_1) != 0;
    input.up[1] = (buttons & BUTTON_UP_2) != 0;
    input.down[1] = (buttons & BUTTON_DOWN_2) != 0;
    input.leave = (buttons & BUTTON_LEAVE) != 0;
    return input;
}
