// What feeds a match, in the one vocabulary that every part of the game
// shares: a frame's commands (FrameInput) and their encoding as a byte of
// buttons, which the replay file keeps for each frame, the packets carry for
// each player and rollback keeps for each side; what a match starts from
// (MatchStart); and the limits the rules set (score, balls, field, frame
// lengths). No SDL: the replay reader and the packet reader are fuzzed with this alone.
#pragma once

#include <cstdint>

// The first player to this many points wins the match.
constexpr int WINNING_SCORE = 5;
// Ball sprites to choose from, numbered from 0.
constexpr int BALL_TYPES = 4;
// Every frame of the match lasts at least this long in local play and
// exactly this long online; a frame's step is then several pixels (so
// truncating it to whole pixels loses little) and the game spins no core.
constexpr int FRAME_PERIOD_MS = 22;
// The longest frame a local match runs: the frame clock counts a longer one
// (the process stopped, the machine suspended) as a match's first frame, and
// a recording refuses a longer one.
constexpr int LONGEST_FRAME_MS = 250;
// The field, in pixels: the screen takes its size from it.
constexpr int FIELD_WIDTH = 320;
constexpr int FIELD_HEIGHT = 240;

// One frame's commands for the match, whatever their source: the keys and
// pads, a recording or the network. Index 0 is player 1 (the left paddle), 1
// player 2.
struct FrameInput {
    bool up[2];
    bool down[2];
    bool leave; // Escape, a pad's Back, or the player asked to close the game
    // P, Pause or a pad's Start went down in this pass (once per press): puts
    // the match on hold, or takes it off hold. Not the ball's serve wait; the
    // match runs no frame while on hold, so no recording keeps it.
    bool hold;
};

// A frame's commands as bits: each player's up and down, and leave.
enum FrameButton : uint8_t {
    BUTTON_UP_1 = 1 << 0,
    BUTTON_DOWN_1 = 1 << 1,
    BUTTON_UP_2 = 1 << 2,
    BUTTON_DOWN_2 = 1 << 3,
    BUTTON_LEAVE = 1 << 4,
};
constexpr uint8_t ALL_FRAME_BUTTONS = 0x1f;

// The buttons one player (0 or 1) may press: their own up and down, and leave.
constexpr uint8_t playerButtons(int player) {
    return player == 0 ? BUTTON_UP_1 | BUTTON_DOWN_1 | BUTTON_LEAVE
                       : BUTTON_UP_2 | BUTTON_DOWN_2 | BUTTON_LEAVE;
}

// The one codec between commands and buttons; hold is not encoded.
uint8_t encodeFrameInput(const FrameInput &input);
FrameInput decodeFrameInput(uint8_t buttons);

// What a match starts from: the generator's whole state as its first frame
// begins, the kind of match and the ball. The local match, a recording and
// the online handshake all start a match from one of these (startMatch).
struct MatchStart {
    int32_t seed = 0;
    uint8_t players = 1; // 1 against the computer, 2 two players
    uint8_t ballType = 0;
};
