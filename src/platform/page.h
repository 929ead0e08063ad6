// What the page around the game (the browser build's web page) must know of
// it as it runs: the game tells it through these calls, never through the
// lines it prints. Natively there is no page, and telling it does nothing.
#pragma once

#include <iterator>
#include <string>

enum class PageEvent {
    MenuShown,    // the menu is on the screen
    MatchBegan,   // a match runs on the screen (local, replayed or online;
                  // WATCHED_MATCH for one watched online)
    MatchHeld,    // the players put the match on hold
    MatchResumed, // and took it off hold
    MatchEnded,   // the match is over ("1" or "2": who won; "" when left); its
                  // game-over picture may follow
    PlayerLine,   // a line for the players to read (the online session's)
    BallChosen,   // the ball the next match plays with ("0" to "3"), as the
                  // menu opens and at every change
};

// MatchBegan's text for an online match that this side only watches.
constexpr const char *WATCHED_MATCH = "watching";

// Each event's name: the page hears it as "korrin-" and the name, an event
// on its window whose detail is the text (web/library/page.js).
constexpr const char *PAGE_EVENT_NAMES[] = {"menu",  "match", "hold", "resume",
                                            "ended", "line",  "ball"};
static_assert(std::size(PAGE_EVENT_NAMES) == static_cast<size_t>(PageEvent::BallChosen) + 1,
              "a name for every event");

// Tells the page of an event, with its text (see each event; "" else).
void tellPage(PageEvent event, const std::string &text = "");
