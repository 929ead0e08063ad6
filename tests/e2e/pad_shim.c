/* A gamepad for the end-to-end tests, preloaded into the game (LD_PRELOAD).
 *
 * The test hands the game a FIFO as its joystick device (SDL_JOYSTICK_DEVICE)
 * and writes Linux joystick records (struct js_event) into it. Both SDL 1.2
 * runtimes open it as a js device, but a FIFO answers none of the joystick
 * ioctls, so SDL would see a pad of its own guessing. This library answers
 * them, only for descriptors on that FIFO, as an Xbox-style pad would: the
 * left stick (axes 0 and 1), the d-pad as hat 0 (axes 2 and 3), and eleven
 * buttons in Linux's order (A B X Y LB RB Back Start Guide, the two stick
 * clicks). Every other request goes to the real ioctl. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <linux/joystick.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

/* Classic SDL 1.2 makes hats of the last axes only when SDL_LINUX_JOYSTICK
 * names the pad: the tests pass this name there. */
#define PAD_NAME "Korrin Test Pad"

static const uint8_t AXES[] = {ABS_X, ABS_Y, ABS_HAT0X, ABS_HAT0Y};
static const uint16_t BUTTONS[] = {BTN_A,      BTN_B,     BTN_X,      BTN_Y,
                                   BTN_TL,     BTN_TR,    BTN_SELECT, BTN_START,
                                   BTN_MODE,   BTN_THUMBL, BTN_THUMBR};

static int is_pad(int fd) {
    const char *path = getenv("SDL_JOYSTICK_DEVICE");
    struct stat pad, opened;
    return path != NULL && stat(path, &pad) == 0 && fstat(fd, &opened) == 0 &&
           pad.st_dev == opened.st_dev && pad.st_ino == opened.st_ino;
}

/* Copies at most the caller's buffer size (the request's size field). */
static int answer(unsigned long request, void *arg, const void *data, size_t size) {
    size_t room = _IOC_SIZE(request);
    memset(arg, 0, room);
    memcpy(arg, data, size < room ? size : room);
    return 0;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*real_ioctl)(int, unsigned long, void *);
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (real_ioctl == NULL)
        real_ioctl = (int (*)(int, unsigned long, void *))dlsym(RTLD_NEXT, "ioctl");
    if (_IOC_TYPE(request) != 'j' || !is_pad(fd))
        return real_ioctl(fd, request, arg);

    const uint32_t version = JS_VERSION;
    const uint8_t axes = sizeof AXES, buttons = sizeof BUTTONS / sizeof BUTTONS[0];
    switch (_IOC_NR(request)) {
    case _IOC_NR(JSIOCGVERSION):
        return answer(request, arg, &version, sizeof version);
    case _IOC_NR(JSIOCGAXES):
        return answer(request, arg, &axes, sizeof axes);
    case _IOC_NR(JSIOCGBUTTONS):
        return answer(request, arg, &buttons, sizeof buttons);
    case _IOC_NR(JSIOCGNAME(0)):
        answer(request, arg, PAD_NAME, sizeof PAD_NAME);
        return (int)sizeof PAD_NAME;
    case _IOC_NR(JSIOCGAXMAP):
        return answer(request, arg, AXES, sizeof AXES);
    case _IOC_NR(JSIOCGBTNMAP):
        return answer(request, arg, BUTTONS, sizeof BUTTONS);
    default:
        return real_ioctl(fd, request, arg);
    }
}
