#include "ui/buttons_reader.h"

namespace {

// A button's level must differ from its stable state for more than DEBOUNCE_SAMPLES polls
// before the state follows it; it only does so while every other button is released, so
// only one button can be down at a time.
void debounce(ButtonReader& r, uint32_t levels)
{
    for (int i = 0; i < BUTTON_COUNT; i++) {
        const int level = static_cast<int>((levels >> i) & 1);
        if (level == r.stable[i])
            continue;
        bool othersReleased = true;
        for (int j = 0; j < BUTTON_COUNT; j++)
            othersReleased = othersReleased && (j == i || r.stable[j] == 1);
        if (r.count[i] >= DEBOUNCE_SAMPLES && othersReleased) {
            r.stable[i] = level;
            r.count[i] = 0;
        } else if (r.count[i] < DEBOUNCE_SAMPLES) {
            r.count[i]++;
        }
    }
}

double threshold(int repeats, double longPress)
{
    if (repeats == 0)
        return longPress;
    return repeats <= SLOW_REPEATS ? REPEAT_SECONDS : FAST_REPEAT_SECONDS;
}

} // namespace

int pollButtons(ButtonReader& r, uint32_t levels, double now, double longPress, const ButtonPress& press)
{
    debounce(r, levels);
    int notice = 0;
    for (int i = 0; i < BUTTON_COUNT; i++) {
        const int key = i + 1;
        const uint32_t bit = 1u << i;
        const bool pressed = r.stable[i] == 0;
        if (r.timingMask == 0 && pressed) {
            r.pressStart = now;
            r.timingMask |= bit;
        }
        if ((r.timingMask & bit) && pressed && !(r.heldMask & bit)) {
            const double late = (now - r.pressStart) - threshold(r.repeats, longPress);
            if (late > -NOTICE_LEAD_SECONDS)
                notice = 1;
            if (late > 0) {
                // The key handler ends the notice: it is not raised again over its action.
                notice = 0;
                if (press(key, static_cast<int>(r.heldMask | bit))) {
                    r.repeats++;
                    r.pressStart = now;
                } else {
                    r.heldMask |= bit;
                }
            }
        }
        if (r.stable[i] != r.previous[i]) {
            if (!pressed) {
                if (!(r.heldMask & bit) && r.previous[i] != -1)
                    press(key, 0);
                r.timingMask &= ~bit;
                r.heldMask &= ~bit;
                r.repeats = 0;
            }
            r.previous[i] = r.stable[i];
        }
    }
    return notice;
}
