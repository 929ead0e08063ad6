// The browser's touch screen: the page's fingers and controls, kept by
// web/library/touch.js.
#include "touch.h"

extern "C" {
int korrin_touch_fingers(int *coordinates, int *putDownAt, int most);
int korrin_touch_lifted(int *coordinates);
int korrin_touch_tapped(const char *control);
}

extern "C" TouchScreen readTouchScreen() {
    TouchScreen touch{};
    int coordinates[2 * MAX_FINGERS], putDownAt[2 * MAX_FINGERS];
    touch.fingerCount = korrin_touch_fingers(coordinates, putDownAt, MAX_FINGERS);
    for (int finger = 0; finger < touch.fingerCount; ++finger) {
        touch.fingers[finger] = {coordinates[2 * finger], coordinates[2 * finger + 1]};
        touch.putDownAt[finger] = {putDownAt[2 * finger], putDownAt[2 * finger + 1]};
    }
    int lifted[2];
    touch.lifted = korrin_touch_lifted(lifted) != 0;
    if (touch.lifted)
        touch.liftedAt = {lifted[0], lifted[1]};
    touch.holdTapped = korrin_touch_tapped("hold") != 0;
    touch.leaveTapped = korrin_touch_tapped("leave") != 0;
    return touch;
}
