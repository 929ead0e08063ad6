// The online match in the browser: a page has no UDP sockets for ENet, so
// --host and --join (which a page cannot pass anyway) say that they need the
// native game. Compiled by tools/web.sh in place of src/online.cpp.
#include <cstdio>

#include "online.h"

int playOnline(const Options &) {
    fputs("korrin-tavrel: online matches need the native game (UDP)\n", stderr);
    return 2;
}
