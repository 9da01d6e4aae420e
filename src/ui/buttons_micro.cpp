#include "ui/buttons_micro.h"

#include "core/works.h"
#include "platform/gpio.h"
#include "platform/log.h"

namespace {

constexpr uint32_t DATA = 1u << PIN_TINY_DATA;
constexpr uint32_t CLOCK = 1u << PIN_TINY_CLOCK;
constexpr uint8_t POLL_CODES[] = {0xD1, 0xD2, 0xD3, 0xD0};

} // namespace

int tinyExchange(GpioPort& port, uint8_t cmd)
{
    // Out: the micro takes each data bit when the clock falls.
    for (int bit = 7; bit >= 0; bit--) {
        gpioDriveHigh(port, CLOCK);
        port.pauseMicros(TINY_BIT_MICROS);
        if ((cmd >> bit) & 1)
            gpioDriveHigh(port, DATA);
        else
            gpioDriveLow(port, DATA);
        port.pauseMicros(TINY_BIT_MICROS);
        gpioDriveLow(port, CLOCK);
        port.pauseMicros(TINY_BIT_MICROS);
    }
    // Turn-around: the micro takes the data line.
    gpioSetInput(port, PIN_TINY_DATA);
    gpioDriveHigh(port, CLOCK);
    port.pauseMicros(3 * TINY_BIT_MICROS);
    // In: each falling clock edge brings the next bit.
    int reading = 0;
    for (int bit = 0; bit < TINY_REPLY_BITS; bit++) {
        gpioDriveLow(port, CLOCK);
        port.pauseMicros(TINY_BIT_MICROS);
        reading = (reading << 1) | gpioLevel(port, PIN_TINY_DATA);
        gpioDriveHigh(port, CLOCK);
        port.pauseMicros(TINY_BIT_MICROS);
    }
    gpioSetOutput(port, PIN_TINY_DATA);
    gpioDriveHigh(port, DATA | CLOCK);
    return reading;
}

void tinySchedule(Works* works)
{
    if (works->tinyCmdActive != TINY_IDLE)
        return;
    if (works->tinyPollDelay != 0) {
        works->tinyPollDelay--;
        return;
    }
    works->tinyPollDelay = TINY_POLL_PERIOD;
    const uint8_t posted = takeTinyCmd(works);
    if (posted) {
        logErr("CMD TINY %0x\n", posted);
        works->tinyCmdActive = posted;
        return;
    }
    if (works->tinyPollIdx >= 0 && works->tinyPollIdx < 4) {
        works->tinyCmdActive = POLL_CODES[works->tinyPollIdx];
        works->tinyPollIdx++;
    } else {
        works->tinyPollIdx = 0;
    }
}

void tinyService(Works* works, GpioPort& port)
{
    const uint8_t cmd = works->tinyCmdActive;
    if (cmd == TINY_IDLE)
        return;
    const int reading = tinyExchange(port, cmd);
    works->supply[cmd & 3] = static_cast<uint8_t>(reading & 0xFF);
    works->tinyCmdActive = TINY_IDLE;
}
