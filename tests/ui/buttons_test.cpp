// The button thread on the simulated register block: the front-panel micro link access by
// access, the poll schedule and reply storage, the pins and outputs, a press to the key handler.
#include "core/setup.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "front_panel_micro.h"
#include "screen_support.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "ui/buttons.h"
#include "ui/buttons_micro.h"
#include "ui/layout.h"
#include "ui/menu.h"
#include "ui/menu_items.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

using sim::GpioAccess;

namespace {

constexpr uint32_t DATA = 1u << 4;
constexpr uint32_t CLOCK = 1u << 6;

// Waits up to 20 s for a condition of the polling thread.
template <typename Pred> bool waitFor(Pred pred)
{
    const double end = monoSeconds() + 20;
    while (!pred() && monoSeconds() < end)
        sleepMs(5);
    return pred();
}

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

// Presses on the block's button pins go through the reader to the key handler, and the
// next frame shows their result: a short press of key 4 opens the tune bar; a long press of
// the antenna key is consumed (the antenna steps once) and leaves no second-function
// notice behind (the reader's own test sees the notice shown ahead of the long press).
TEST(ButtonThread, HandsAPressToTheKeyHandler)
{
    screentest::ScreenRecord works;
    InitMenuOrvo(works.get());
    works->pageIdx = BAR_MAIN;
    works->antenna = 0;
    works->running = 1;
    sim::GpioBlockModel block(true);
    gpioSetUp(block);
    std::thread loop([&] { buttonLoop(works.get(), block); });
    // Polls of the reader after this call (every poll ends with its pause).
    auto pollsDone = [&] {
        size_t n = 0;
        for (const GpioAccess& a : block.accesses())
            n += a.kind == GpioAccess::Pause && a.value == BUTTON_POLL_MICROS;
        return n;
    };
    auto waitPolls = [&](size_t polls) {
        const size_t from = pollsDone();
        return waitFor([&] { return pollsDone() >= from + polls; });
    };
    auto frame = [&] {
        memset(works.fb()->drawBuf, 0, works.fb()->memSize);
        LoadButtons(works.get(), SerParam{});
    };
    // The notice's row, between the temperature boxes and the fault tiles.
    auto noticeInk = [&] {
        int ink = 0;
        for (int y = 334; y < 362; ++y)
            for (int x = 0; x < 500; ++x)
                ink += screentest::pixel(works.fb(), x, y) != screentest::Rgb{0, 0, 0};
        return ink;
    };

    ASSERT_TRUE(waitPolls(10));
    EXPECT_EQ(0, works->lastActivity.load()) << "nothing pressed yet";
    block.setButton(4, true);
    sleepMs(100);
    block.setButton(4, false);
    ASSERT_TRUE(waitFor([&] { return works->pageIdx == BAR_TUNE; }));
    frame();
    screentest::expectButtonShows(works.fb(), 3, "TUNE F", "  Off");
    screentest::expectButtonShows(works.fb(), 6, "MANUAL", "Tune");

    works->pageIdx = BAR_MAIN;
    works->msgFlags = 1;
    frame();
    ASSERT_GT(noticeInk(), 0) << "the notice drawn where it is looked for";
    works->msgFlags = 0;
    block.setButton(3, true);
    ASSERT_TRUE(waitFor([&] { return works->antenna == 1; }));
    ASSERT_TRUE(waitPolls(20));
    block.setButton(3, false);
    ASSERT_TRUE(waitPolls(20));
    works->running = 0;
    loop.join();
    EXPECT_EQ(1, works->antenna) << "one step: the long press is consumed, no short press on release";
    frame();
    screentest::saveScreen(works.fb(), "button_thread_after_long_antenna");
    EXPECT_EQ(0, noticeInk()) << "\"Entering second function...\" left on the screen";
    screentest::expectButtonShows(works.fb(), 3, "   ANT", "     2");
}

// The key handler runs on the thread that empties the front-panel mailbox. Confirming the
// local use mode posts the remote-stop code while another thread's code still waits in
// the mailbox: both codes go out, the other thread's first.
TEST(ButtonThread, KeyHandlerPostsToTheMailboxItEmpties)
{
    screentest::ScreenRecord works;
    InitMenuOrvo(works.get());
    works->pageIdx = BAR_MENU_EDIT;
    works->menuIdx = ITEM_USE_MODE;
    works->remoteActive = 0;
    works->running = 1;
    sim::GpioBlockModel block(true);
    gpioSetUp(block);
    // No exchange until the key has been handled, and a code waiting in the mailbox.
    works->tinyCmdActive = TINY_IDLE;
    works->tinyPollDelay = 1000000;
    works->tinyCmd = 0xC5;
    std::thread loop([&] { buttonLoop(works.get(), block); });
    block.setButton(6, true);
    sleepMs(100);
    block.setButton(6, false);
    EXPECT_TRUE(waitFor([&] { return works->pageIdx == BAR_MENU; })) << "the ENTER key handled";
    auto sent = [&] { return block.microCommands(); };
    const bool both = waitFor([&] {
        works->tinyPollDelay = 0;
        const std::vector<uint8_t> c = sent();
        return std::count(c.begin(), c.end(), 0xA5) == 1 && std::count(c.begin(), c.end(), 0xC5) == 1;
    });
    works->running = 0;
    loop.join();
    const std::vector<uint8_t> c = sent();
    ASSERT_TRUE(both) << "codes exchanged: " << testing::PrintToString(c);
    EXPECT_LT(std::find(c.begin(), c.end(), 0xC5), std::find(c.begin(), c.end(), 0xA5));
}

} // namespace
