// Debounce, long press and auto-repeat of the button reader on scripted level sequences,
// polled every 2 ms of scripted time.
#include "ui/buttons_reader.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

constexpr double POLL = 0.002;
constexpr uint32_t ALL_UP = 0x3F;

struct Call {
    int key;
    int flags;
    double at;
    size_t poll;  // index of the poll (and of its notice) that made the call
};

class Script {
public:
    explicit Script(int result = 0) : result_(result) {}

    // Polls n times with the given buttons (1..6) down.
    void hold(std::initializer_list<int> down, int polls)
    {
        uint32_t levels = ALL_UP;
        for (int k : down)
            levels &= ~(1u << (k - 1));
        for (int i = 0; i < polls; i++) {
            notices.push_back(pollButtons(reader, levels, now, longPress, [this](int key, int flags) {
                calls.push_back({key, flags, now, notices.size()});
                return result_;
            }));
            now += POLL;
        }
    }
    void release(int polls) { hold({}, polls); }
    std::vector<std::pair<int, int>> events() const
    {
        std::vector<std::pair<int, int>> out;
        for (const Call& c : calls)
            out.emplace_back(c.key, c.flags);
        return out;
    }

    ButtonReader reader;
    double now = 100.0;
    double longPress = 0.5;
    std::vector<Call> calls;
    std::vector<int> notices;

private:
    int result_;
};

using Events = std::vector<std::pair<int, int>>;

TEST(ButtonReader, DebouncedShortPressIsDeliveredOnRelease)
{
    Script s;
    s.release(3);
    EXPECT_TRUE(s.calls.empty()) << "no event for the start-up state";
    // Five differing samples are counted, the sixth changes the state.
    s.hold({5}, 5);
    EXPECT_EQ(1, s.reader.stable[4]);
    s.hold({5}, 1);
    EXPECT_EQ(0, s.reader.stable[4]);
    s.hold({5}, 20);
    EXPECT_TRUE(s.calls.empty()) << "a short press waits for the release";
    s.release(5);
    EXPECT_TRUE(s.calls.empty()) << "the release is debounced too";
    s.release(1);
    EXPECT_EQ((Events{{5, 0}}), s.events());
    // A second press works the same way.
    s.hold({2}, 30);
    s.release(10);
    EXPECT_EQ((Events{{5, 0}, {2, 0}}), s.events());
}

TEST(ButtonReader, OnlyTheFirstStableButtonOfTwoRegisters)
{
    // Pressed on the same poll: the lower-numbered one becomes stable first; the other
    // is ignored while it is down.
    Script s;
    s.release(1);
    s.hold({2, 3}, 40);
    EXPECT_EQ(0, s.reader.stable[1]);
    EXPECT_EQ(1, s.reader.stable[2]);
    s.hold({2}, 10); // 3 let go first
    s.release(10);
    EXPECT_EQ((Events{{2, 0}}), s.events());

    // 4 becomes stable first; 6, pressed meanwhile, registers only after 4 is released.
    Script t;
    t.release(1);
    t.hold({4}, 10);
    t.hold({4, 6}, 40);
    EXPECT_EQ((Events{}), t.events());
    EXPECT_EQ(1, t.reader.stable[5]);
    t.hold({6}, 20);
    EXPECT_EQ((Events{{4, 0}}), t.events());
    EXPECT_EQ(0, t.reader.stable[5]);
    t.release(10);
    EXPECT_EQ((Events{{4, 0}, {6, 0}}), t.events());
}

TEST(ButtonReader, HeldKeyRepeatsAtTheLongPressThenTenthThenFiftiethOfASecond)
{
    // The dispatcher asks for repeats (a held "up" key on the manual tune bar).
    Script s(1);
    s.release(1);
    s.hold({3}, 6);
    const double pressed = s.now - POLL;  // the poll on which the state changed
    s.hold({3}, static_cast<int>(3.0 / POLL));
    ASSERT_GT(s.calls.size(), 30u);
    for (const Call& c : s.calls)
        EXPECT_EQ(4, c.flags) << "a long press carries the key's own bit";
    // First after the long-press time, then 14 repeats 0.1 s apart, then 0.02 s apart,
    // each within one poll of its threshold.
    EXPECT_GE(s.calls[0].at - pressed, 0.5);
    EXPECT_LE(s.calls[0].at - pressed, 0.5 + 1.5 * POLL);
    for (size_t i = 1; i < s.calls.size(); i++) {
        const double gap = s.calls[i].at - s.calls[i - 1].at;
        const double expected = i <= 14 ? 0.1 : 0.02;
        EXPECT_GE(gap, expected - 1e-9) << "repeat " << i;
        EXPECT_LE(gap, expected + 1.5 * POLL) << "repeat " << i;
    }
    // The second-function notice shows from 0.15 s before the long press on.
    const size_t lead = static_cast<size_t>((0.5 - 0.15) / POLL);
    EXPECT_EQ(0, s.notices[6 + lead - 3]);
    EXPECT_EQ(1, s.notices[6 + lead + 3]);
    // Releasing after the auto-repeat delivers one short press (the repeats go on while
    // the release is being debounced).
    s.release(10);
    ASSERT_EQ(3, s.calls.back().key);
    EXPECT_EQ(0, s.calls.back().flags);
    for (size_t i = 0; i + 1 < s.calls.size(); i++)
        EXPECT_EQ(4, s.calls[i].flags);
    const size_t repeats = s.calls.size() - 1;
    // The repeat count starts again with the next press.
    s.hold({3}, 6);
    const double again = s.now - POLL;
    s.hold({3}, static_cast<int>(0.7 / POLL));
    ASSERT_GT(s.calls.size(), repeats + 2);
    EXPECT_GE(s.calls[repeats + 1].at - again, 0.5);
}

TEST(ButtonReader, ConsumedLongPressDeliversNothingMoreAndFollowsTheSetting)
{
    Script s(0);
    s.longPress = 0.8;
    s.release(1);
    s.hold({1}, 6);
    const double pressed = s.now - POLL;
    s.hold({1}, static_cast<int>(2.0 / POLL));
    ASSERT_EQ(1u, s.calls.size());
    EXPECT_EQ(1, s.calls[0].flags);
    EXPECT_GE(s.calls[0].at - pressed, 0.8);
    EXPECT_LE(s.calls[0].at - pressed, 0.8 + 1.5 * POLL);
    // The notice shows just before the long press and not from the poll that hands it over
    // (the key handler has cleared it by then) while the key stays down.
    const size_t handed = s.calls[0].poll;
    EXPECT_EQ(1, s.notices[handed - 1]);
    for (size_t i = handed; i < s.notices.size(); i++)
        ASSERT_EQ(0, s.notices[i]) << "notice raised again " << i - handed << " polls after the long press";
    s.release(10);
    EXPECT_EQ(1u, s.calls.size()) << "no short press after a consumed long press";
    // The next short press is a short press again.
    s.hold({1}, 20);
    s.release(10);
    EXPECT_EQ((Events{{1, 1}, {1, 0}}), s.events());
}

} // namespace
