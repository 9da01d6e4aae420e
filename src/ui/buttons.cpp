#include "ui/buttons.h"

#include "core/works.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "platform/log.h"
#include "ui/buttons_micro.h"
#include "ui/buttons_reader.h"
#include "ui/dispatch.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr uint32_t BUTTON_PINS = 0x3Fu << PIN_FIRST_BUTTON;

// The process ends at once: other threads are still running, so no exit handlers run.
[[noreturn]] void endProcess(int status)
{
    std::fflush(nullptr);
    _exit(status);
}

} // namespace

void gpioSetUp(GpioPort& port)
{
    for (int pin : {PIN_TINY_DATA, PIN_TINY_CLOCK, PIN_HOLD, PIN_LED})
        gpioSetOutput(port, pin);
    gpioDriveHigh(port, 1u << PIN_LED);
    for (int pin = PIN_FIRST_BUTTON; pin < PIN_FIRST_BUTTON + 6; pin++)
        gpioSetInput(port, pin);
    // Pull-ups on the button pins: control, then the clock on those pins, then both off.
    port.writeReg(GPIO_PUD, 2);
    port.pauseMicros(10);
    port.writeReg(GPIO_PUDCLK0, BUTTON_PINS);
    port.pauseMicros(10);
    port.writeReg(GPIO_PUD, 0);
    port.writeReg(GPIO_PUDCLK0, 0);
}

void buttonLoop(Works* works, GpioPort& port)
{
    becomeTinyReader();
    ButtonReader reader;
    const ButtonPress press = [works](int key, int flags) { return DecodeTasto(works, key, flags); };
    while (works->running) {
        gpioDriveHigh(port, 1u << PIN_HOLD);
        if (works->svcFlags & 1)
            gpioDriveLow(port, 1u << PIN_LED);
        else
            gpioDriveHigh(port, 1u << PIN_LED);

        tinySchedule(works);
        tinyService(works, port);

        const uint32_t levels = (port.readReg(GPIO_LEV0) & BUTTON_PINS) >> PIN_FIRST_BUTTON;
        if (pollButtons(reader, levels, monoSeconds(), TIME_LONG_PRESS, press))
            works->msgFlags |= 1;
        port.pauseMicros(BUTTON_POLL_MICROS);
    }
}

void* GPIO(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    logSys(LOG_INFO, "GPIO operations start");
    std::unique_ptr<GpioPort> port;
    const int status = openGpioBlock(port);
    if (status == 8) {
        logSys(LOG_ERR, "can't open /dev/mem");
        endProcess(8);
    }
    if (status != 0) {
        logSys(LOG_ERR, "mmap error %d", errno);
        endProcess(255);
    }
    gpioSetUp(*port);
    logSys(LOG_INFO, "GPIO loop start");
    buttonLoop(works, *port);
    logSys(LOG_INFO, "GPIO operations end");
    return nullptr;
}
