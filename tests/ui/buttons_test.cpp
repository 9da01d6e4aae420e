// The button thread on the simulated register block: the front-panel micro link access by
// access, the poll schedule and reply storage, the pins and outputs, a press to the key handler.
#include "core/setup.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "front_panel_micro.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "ui/buttons.h"
#include "ui/buttons_micro.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using sim::GpioAccess;

namespace {

constexpr uint32_t DATA = 1u << 4;
constexpr uint32_t CLOCK = 1u << 6;

// Walks the recorded accesses in order.
class Walk {
public:
    explicit Walk(std::vector<GpioAccess> a) : a_(std::move(a)) {}
    const GpioAccess& next()
    {
        static const GpioAccess none{GpioAccess::Pause, 0xFFFF, 0};
        return i_ < a_.size() ? a_[i_++] : none;
    }
    // The next access is a write of value to offset.
    void write(uint32_t offset, uint32_t value, const char* what)
    {
        const GpioAccess& x = next();
        EXPECT_EQ(GpioAccess::Write, x.kind) << what;
        EXPECT_EQ(offset, x.offset) << what;
        EXPECT_EQ(value, x.value) << what;
    }
    void pause(uint32_t micros, const char* what)
    {
        const GpioAccess& x = next();
        EXPECT_EQ(GpioAccess::Pause, x.kind) << what;
        EXPECT_EQ(micros, x.value) << what;
    }
    // Takes the reads and writes of function select 0; returns the function the data pin
    // is left with (0 input, 1 output).
    uint32_t dataDirection()
    {
        uint32_t last = 0xFF;
        for (; i_ < a_.size() && a_[i_].offset == GPIO_FSEL0; i_++)
            if (a_[i_].kind == GpioAccess::Write)
                last = (a_[i_].value >> 12) & 7;
        return last;
    }
    bool done() const { return i_ == a_.size(); }

private:
    std::vector<GpioAccess> a_;
    size_t i_ = 0;
};

TEST(FrontPanelMicro, ExchangeBitByBitMostSignificantFirst)
{
    sim::GpioBlockModel block;
    gpioSetUp(block);
    block.clearAccesses();
    block.micro().setReading(2, 0xA5C);

    const int reading = tinyExchange(block, 0xD2);
    EXPECT_EQ(0xA5C, reading);
    EXPECT_EQ(std::vector<uint8_t>{0xD2}, block.micro().commands());

    Walk w(block.accesses());
    uint32_t total = 0;
    for (const GpioAccess& a : block.accesses())
        total += a.kind == GpioAccess::Pause ? a.value : 0;
    EXPECT_EQ(8u * 600 + 600 + 12 * 400, total) << "the exchange's line time in microseconds";

    // Out: clock high, data, clock low; 200 us after each.
    for (int bit = 7; bit >= 0; bit--) {
        w.write(GPIO_SET0, CLOCK, "clock high");
        w.pause(200, "clock high");
        w.write((0xD2 >> bit) & 1 ? GPIO_SET0 : GPIO_CLR0, DATA, "data bit");
        w.pause(200, "data");
        w.write(GPIO_CLR0, CLOCK, "clock low");
        w.pause(200, "clock low");
    }
    // Turn-around: data an input, clock high, three bit times.
    EXPECT_EQ(0u, w.dataDirection()) << "the data line an input for the reply";
    w.write(GPIO_SET0, CLOCK, "clock high before the reply");
    w.pause(600, "turn-around");
    // In: clock low, sample, clock high; the samples are the reply, first bit highest.
    for (int bit = 11; bit >= 0; bit--) {
        w.write(GPIO_CLR0, CLOCK, "clock low");
        w.pause(200, "settle");
        const GpioAccess& sample = w.next();
        EXPECT_EQ(GpioAccess::Read, sample.kind);
        EXPECT_EQ(GPIO_LEV0, sample.offset);
        EXPECT_EQ(static_cast<uint32_t>((0xA5C >> bit) & 1), (sample.value >> 4) & 1) << "reply bit " << bit;
        w.write(GPIO_SET0, CLOCK, "clock high");
        w.pause(200, "clock high");
    }
    EXPECT_EQ(1u, w.dataDirection()) << "the data line an output again";
    w.write(GPIO_SET0, DATA | CLOCK, "both lines high");
    EXPECT_TRUE(w.done());
    EXPECT_EQ(1, block.pinFunction(4));
    EXPECT_EQ(DATA | CLOCK, block.outputLatch() & (DATA | CLOCK));
}

TEST(FrontPanelMicro, PollRotationMailboxAndReplyStorage)
{
    auto works = std::make_unique<Works>();
    InitGlobalVar(works.get());
    sim::GpioBlockModel block;
    gpioSetUp(block);
    // 12-bit readings: only the low 8 bits are kept.
    for (int slot = 0; slot < 4; slot++)
        block.micro().setReading(slot, static_cast<uint16_t>(0x300 + 0x11 * (slot + 1)));

    // Start-up code 0xB0 is exchanged at the first poll; its reply is the version.
    EXPECT_EQ(176, works->tinyCmdActive);
    auto poll = [&] {
        tinySchedule(works.get());
        tinyService(works.get(), block);
    };
    poll();
    EXPECT_EQ(0x11, works->supply[0]);
    EXPECT_EQ(TINY_IDLE, works->tinyCmdActive);
    // A posted code goes before the rotation; then 200 polls pass without an exchange.
    works->tinyCmd = 0xC5;
    poll();
    EXPECT_EQ(0u, works->tinyCmd.load());
    EXPECT_EQ(0x22, works->supply[1]) << "0xC5 ends in 01: the 12 V slot";
    for (int i = 0; i < 200; i++)
        poll();
    EXPECT_EQ(2u, block.micro().commands().size()) << "nothing exchanged during the delay";
    // Then the rotation D1, D2, D3, D0 and one pause, each 201 polls apart.
    for (int i = 0; i < 5 * 201 + 1; i++)
        poll();
    EXPECT_EQ((std::vector<uint8_t>{0xB0, 0xC5, 0xD1, 0xD2, 0xD3, 0xD0, 0xD1}), block.micro().commands());
    EXPECT_EQ(0x22, works->supply[1]);
    EXPECT_EQ(0x33, works->supply[2]);
    EXPECT_EQ(0x44, works->supply[3]);
    EXPECT_EQ(0x11, works->supply[0]);
}

TEST(ButtonThread, SetsUpPinsDrivesOutputsAndPollsTheMicro)
{
    auto works = std::make_unique<Works>();
    InitGlobalVar(works.get());
    works->running = 1;
    sim::GpioBlockModel block(true);
    gpioSetUp(block);
    for (int pin : {4, 6, 13, 16})
        EXPECT_EQ(1, block.pinFunction(pin)) << pin;
    for (int pin = 22; pin <= 27; pin++)
        EXPECT_EQ(0, block.pinFunction(pin)) << pin;
    // The pull-ups: control 2, clock on GPIO 22..27, then both 0.
    std::vector<std::pair<uint32_t, uint32_t>> pud;
    for (const GpioAccess& a : block.accesses())
        if (a.kind == GpioAccess::Write && (a.offset == GPIO_PUD || a.offset == GPIO_PUDCLK0))
            pud.emplace_back(a.offset, a.value);
    EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{
                  {GPIO_PUD, 2}, {GPIO_PUDCLK0, 0x0FC00000}, {GPIO_PUD, 0}, {GPIO_PUDCLK0, 0}}),
              pud);
    EXPECT_TRUE(block.outputLatch() & (1u << 13)) << "LED on at start";

    std::thread loop([&] { buttonLoop(works.get(), block); });
    auto waitFor = [](auto pred) {
        const double end = monoSeconds() + 20;
        while (!pred() && monoSeconds() < end)
            sleepMs(10);
        return pred();
    };
    // Every poll drives GPIO 16 high; the LED follows bit 0 of svcFlags.
    EXPECT_TRUE(waitFor([&] { return (block.outputLatch() & (1u << 16)) != 0; }));
    works->svcFlags |= 1;
    EXPECT_TRUE(waitFor([&] { return (block.outputLatch() & (1u << 13)) == 0; }));
    works->svcFlags &= ~1u;
    EXPECT_TRUE(waitFor([&] { return (block.outputLatch() & (1u << 13)) != 0; }));
    // Within the rotation every reading arrives from the micro.
    EXPECT_TRUE(waitFor([&] { return works->supply[3] == (block.micro().reading(3) & 0xFF); }));
    EXPECT_EQ(block.micro().reading(1) & 0xFF, works->supply[1]);
    EXPECT_EQ(block.micro().reading(2) & 0xFF, works->supply[2]);
    works->running = 0;
    loop.join();
}

// A press on the block's button pin reaches the key handler, which renews the time of the
// last activity.
TEST(ButtonThread, HandsAPressToTheKeyHandler)
{
    auto works = std::make_unique<Works>();
    auto setup = std::make_unique<Orvosetup>();
    std::unique_ptr<FrameBuffer, void (*)(FrameBuffer*)> fb{fbCreateInMemory(800, 480, 4), fbDestroy};
    works->setup = setup.get();
    initSetup(works.get());
    works->fb = fb.get();
    works->running = 1;
    works->lastActivity = 0;
    sim::GpioBlockModel block(true);
    gpioSetUp(block);
    std::thread loop([&] { buttonLoop(works.get(), block); });
    sleepMs(50);
    EXPECT_EQ(0, works->lastActivity.load()) << "nothing pressed yet";
    const int64_t before = monoMillis();
    block.setButton(4, true);
    sleepMs(100);
    block.setButton(4, false);
    const double end = monoSeconds() + 20;
    while (works->lastActivity == 0 && monoSeconds() < end)
        sleepMs(10);
    works->running = 0;
    loop.join();
    EXPECT_GE(works->lastActivity.load(), before);
}

} // namespace
