// The numbers that the page and the game must agree on, as the game's
// sources define them. Written by tools/page_numbers.py: do not edit.
// src/rules/commands.h
export const FIELD_WIDTH = 320;
export const FIELD_HEIGHT = 240;
// src/replay/replayfile.h
export const MAX_REPLAY_FILE_BYTES = 16777216;
// src/app/main.cpp
export const CUT_OFF_STATUS = 3;
// src/net/link.h
export const MAX_PACKET_BYTES = 1024;
export const EARLY_PACKETS_KEPT = 32;
export const UNSENT_LIMIT_BYTES = 512;
// src/net/session.h
export const CONNECT_TIMEOUT_MS = 10000;
export const HANDSHAKE_REPEAT_MS = 100;
