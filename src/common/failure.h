// How the game's own functions say that something failed, and where the
// message goes.
//
// A step that can fail returns a Status, or a Result<T> when it also yields
// a value: ok() when it worked, otherwise `error` holds the one line that
// says what failed and why (naming the file, host or device), without a
// newline. The step prints nothing itself; the caller that decides what
// happens next prints the line once, and carries on or ends: main returns the
// process's status. Only two things end the process elsewhere: the exit the
// game has always had when a local match's images or sounds cannot be loaded
// (startGame), and a lost connection to the display (init.h): Xlib ends the
// process should its handler return, so the handler ends it itself. The
// start-up, match and menu functions the game has always had (initGame,
// initSound, loadImages, loadSounds, playSound, showMenu) keep their older
// form: they print their own line and return 1.
//
// Where lines go: standard output tells what the game does and how it went,
// its failures included (start-up, assets, sound, the online session, each
// verified match); standard error says what is wrong with the command line
// and with the files it names (usage, the data folder, a replay that cannot
// be read or written), and carries the online match's figures.
#pragma once

#include <string>

struct [[nodiscard]] Status {
    std::string error; // empty when the step worked
    bool ok() const { return error.empty(); }
};

template <typename T> struct [[nodiscard]] Result {
    T value{};
    std::string error; // empty when the step worked; then value holds its result
    bool ok() const { return error.empty(); }
};
