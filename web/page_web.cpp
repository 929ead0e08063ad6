// The browser's page hears of the game through web/library/page.js.
#include "page.h"

extern "C" void korrin_page_event(const char *name, const char *text);

void tellPage(PageEvent event, const std::string &text) {
    korrin_page_event(PAGE_EVENT_NAMES[static_cast<int>(event)], text.c_str());
}
