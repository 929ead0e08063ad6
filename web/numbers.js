// The numbers that the page and the game must agree on, as the game's
// headers define them. Written by tools/page_numbers.py: do not edit.
// src/rules/commands.h
export const FIELD_WIDTH = 320;
export const FIELD_HEIGHT = 240;
// src/net/link.h
export const MAX_PACKET_BYTES = 1024;
export const EARLY_PACKETS_KEPT = 32;
// src/net/session.h
export const CONNECT_TIMEOUT_MS = 10000;
export const HANDSHAKE_REPEAT_MS = 100;
