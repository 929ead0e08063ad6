// Natively the game runs in a window of its own, with no page around it.
#include "page.h"

void tellPage(PageEvent, const std::string &) {}
