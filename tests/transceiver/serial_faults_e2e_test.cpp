// The real ampctl when its serial devices fail as they do in a shack: a USB serial adapter
// pulled out and plugged back in under the transceiver link and under the FT-817 follower,
// a transceiver that stops in the middle of a message, an FT-817 whose reply comes after
// the follower gave up on it, and no transceiver cable at all when the status page starts
// the link. Each fault is logged once, raises its link's error once and is recovered from;
// every port the controller opens passes the simulated devices' line settings check.
#include "display/text.h"
#include "remote/ws_units.h"
#include "support/panel_match.h"
#include "trx_station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using trxtest::TrxStation;

const std::string TWO_BANDS_IXO = "!Ixo\n40m 7000000 7300000 1 1 0 0 0.0\n20m 14000000 14350000 1 1 0 0 0.0\n";
const std::string TWO_BANDS_817 = "!817\n40m 7000000 7300000 1 3 1 1 0.0\n20m 14000000 14350000 1 2 0 2 0.0\n";
const std::string TWO_BANDS_GEN = "!Gen\n40m 7000000 7300000 1 1 0 0 0.0\n20m 14000000 14350000 1 1 0 0 0.0\n";

size_t lines(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Lines the controller wrote to standard error (its system log lines included) over a
// stretch of seconds.
size_t linesOver(TrxStation& s, unsigned seconds)
{
    const size_t before = lines(s.ctl().stderrText());
    sleep(seconds);
    return lines(s.ctl().stderrText()) - before;
}

bool linkGone(TrxStation& s, const std::string& name)
{
    for (int i = 0; i < 50; ++i) {
        if (access(s.unit().path(name).c_str(), F_OK) != 0)
            return true;
        usleep(100000);
    }
    return false;
}

// The frequency messages ("FA...;") the host sent the board after `from`.
std::vector<std::string> frequenciesSent(TrxStation& s, size_t from)
{
    std::vector<std::string> out;
    for (const std::string& t : hostTexts(s.unit().wireLog(), from))
        if (t.compare(0, 2, "FA") == 0)
            out.push_back(t);
    return out;
}

TEST(SerialFaultsE2E, TransceiverLinkHungUpRaisesError8OnceStaysQuietAndReopensWhenPluggedBack)
{
    TrxStation s("e2e-hangup-ixo", sim::SerialTransceiver::Maker, TWO_BANDS_IXO);
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_TRUE(s.waitForHost("FA00014070000;", 0, 20)) << s.ctl().stderrText();

    // The adapter pulled: one line for the event, error 8 once, then quiet while it is out
    // (the reopen attempts every 2 s say nothing).
    ASSERT_EQ("", s.control("trx unplug"));
    ASSERT_TRUE(s.ctl().waitForStderr("hung up, reopened every 2000 ms", 10)) << s.ctl().stderrText();
    const size_t quiet = linesOver(s, 3);
    EXPECT_LT(quiet, 10u) << s.ctl().stderrText().substr(s.ctl().stderrText().size() - 2000);
    EXPECT_EQ(1u, s.stderrCount("err:8")) << "error 8 raised once";
    EXPECT_EQ(1u, s.stderrCount("hung up"));

    // Plugged back in: the link opens the new line by itself and follows the transceiver.
    const size_t m = s.mark();
    ASSERT_EQ("", s.control("trx plug"));
    ASSERT_TRUE(s.ctl().waitForStderr("OK works->serFD=", 15, 4)) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("trx freq A 14080000"));
    EXPECT_TRUE(s.waitForHost("FA00014080000;", m, 15)) << s.ctl().stderrText();
    EXPECT_EQ(1u, s.stderrCount("err:8"));

    // The transceiver stops in the middle of a message: one time-out line, and the next
    // message after it is read whole (the broken one is not joined to it).
    ASSERT_EQ("", s.control("trx cut"));
    ASSERT_TRUE(s.ctl().waitForStderr("TIMEOUT EXT IO 3", 15)) << s.ctl().stderrText();
    const size_t m2 = s.mark();
    ASSERT_EQ("", s.control("trx freq A 14090000"));
    ASSERT_EQ("", s.control("trx resume"));
    EXPECT_TRUE(s.waitForHost("FA00014090000;", m2, 15)) << s.ctl().stderrText();
    EXPECT_EQ(1u, s.stderrCount("TIMEOUT EXT IO 3"));
    EXPECT_EQ(0u, s.unit().board().lineGuard().refusals()) << s.unit().board().lineGuard().lastProblem();
    EXPECT_EQ(0u, s.ports().lineGuard(sim::TrxPort::Serial).refusals())
        << s.ports().lineGuard(sim::TrxPort::Serial).lastProblem();
    EXPECT_TRUE(s.ctl().running());
}

TEST(SerialFaultsE2E, Ft817HungUpShowsItsErrorOnceStaysQuietAndFollowsAgainAfterRetry)
{
    TrxStation s("e2e-hangup-817", sim::SerialTransceiver::Ft817, TWO_BANDS_817);
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_TRUE(s.waitForHost("FA00007050000;", 0, 20)) << s.ctl().stderrText();

    ASSERT_EQ("", s.control("trx unplug"));
    ASSERT_TRUE(s.ctl().waitForStderr("CAT: Lost device /dev/ttyUSB1", 10)) << s.ctl().stderrText();
    const size_t quiet = linesOver(s, 3);
    EXPECT_LT(quiet, 10u) << s.ctl().stderrText().substr(s.ctl().stderrText().size() - 2000);
    EXPECT_EQ(1u, s.stderrCount("Lost device"));

    // Back in: the follower reopens by itself; the retry key closes its error screen and the
    // frequency is followed again.
    const size_t m = s.mark();
    ASSERT_EQ("", s.control("trx plug"));
    ASSERT_TRUE(s.ctl().waitForStderr("OK works->catSerFD=", 15, 4)) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("ft817 freq 14100000"));
    ASSERT_TRUE(s.unit().pressButton(5, 100));
    EXPECT_TRUE(s.waitForHost("FA00014100000;", m, 15)) << s.ctl().stderrText();
    EXPECT_EQ(0u, s.ports().lineGuard(sim::TrxPort::Serial).refusals())
        << s.ports().lineGuard(sim::TrxPort::Serial).lastProblem();
    EXPECT_TRUE(s.ctl().running());
}

TEST(SerialFaultsE2E, Ft817ReplyAfterItsTimeOutDoesNotShiftTheRepliesAfterIt)
{
    TrxStation s("e2e-late-817", sim::SerialTransceiver::Ft817, TWO_BANDS_817);
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_TRUE(s.waitForHost("FA00007050000;", 0, 20)) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("ft817 freq 14200000"));
    ASSERT_TRUE(s.waitForHost("FA00014200000;", 0, 15)) << s.ctl().stderrText();

    // One reply cut after its second byte, the rest arriving after the follower's time-out.
    ASSERT_EQ("", s.control("ft817 reply late"));
    ASSERT_TRUE(s.ctl().waitForStderr("TIMEOUT SERIAL CAT", 10)) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("ft817 reply normal"));
    const size_t m = s.mark();
    ASSERT_EQ("", s.control("ft817 freq 7100000"));
    EXPECT_TRUE(s.waitForHost("FA00007100000;", m, 15)) << s.ctl().stderrText();
    sleep(3);
    // Every frequency followed after it is the transceiver's: no reply read out of step.
    for (const std::string& fa : frequenciesSent(s, m))
        EXPECT_EQ("FA00007100000;", fa);
    EXPECT_EQ(0u, s.stderrCount("freq not decoded"));
}

TEST(SerialFaultsE2E, StatusPageWithoutTransceiverCableRaisesError8AndTheProgramRuns)
{
    TrxStation s("e2e-no-cable", sim::SerialTransceiver::Maker, TWO_BANDS_GEN);
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("trx unplug"));
    ASSERT_TRUE(linkGone(s, "dev/ttyUSB1"));

    // A long VIEW: the status page, which starts the transceiver link.
    ASSERT_TRUE(s.unit().pressButton(6, 900));
    ASSERT_TRUE(s.ctl().waitForStderr("Unable to open device /dev/ttyUSB1", 10)) << s.ctl().stderrText();
    EXPECT_TRUE(waitForPanelMatch(
        s.unit().path("dev/fb0"), s.unit().root(),
        [](FrameBuffer* fb) {
            drawScreenPicture(fb, "status");
            drawFittedText(fb, 8, 6, 180, 180, 330, "No EXT IO data", 255, 255, 255);
        },
        0, 313, 799, 335, 10))
        << "the page shows the link's error";
    s.screenshot("e2e_status_page_no_cable");
    sleep(3);
    EXPECT_TRUE(s.ctl().running()) << s.ctl().stderrText();
    EXPECT_EQ(1u, s.stderrCount("err:8"));
    EXPECT_EQ(1u, s.stderrCount("Unable to open device")) << "tried again quietly";
}

TEST(SerialFaultsE2E, CatPortHungUpRaisesError20OnceAndTheErrorKeyFindsItAgain)
{
    wstest::ServerUnit server("e2e-hangup-cat", true, "EnableCAT: 1\n");
    sim::ControllerProcess& ctl = server.ctl;
    sim::TransceiverPorts& ports = *server.u.unit.transceivers();
    ASSERT_TRUE(server.listening()) << ctl.stderrText();
    ASSERT_TRUE(ctl.waitForStderr("OK works->catFD=", 60)) << ctl.stderrText();

    ports.setPlugged(sim::TrxPort::Cat, false);
    ASSERT_TRUE(ctl.waitForStderr("CAT: /dev/ttyUSB0 hung up", 10)) << ctl.stderrText();
    ASSERT_TRUE(ctl.waitForStderr("err:20", 10)) << ctl.stderrText();
    const size_t before = lines(ctl.stderrText());
    sleep(3);
    EXPECT_LT(lines(ctl.stderrText()) - before, 10u);

    // Back in, the error key restarts the relay, which probes and opens the new line.
    ports.setPlugged(sim::TrxPort::Cat, true);
    for (int i = 0; i < 50 && !ports.plugged(sim::TrxPort::Cat); ++i)
        usleep(100000);
    ASSERT_TRUE(server.u.unit.pressButton(1, 100));
    EXPECT_TRUE(ctl.waitForStderr("OK works->catFD=", 30, 2)) << ctl.stderrText();
    EXPECT_EQ(0u, ports.lineGuard(sim::TrxPort::Cat).refusals()) << ports.lineGuard(sim::TrxPort::Cat).lastProblem();
    EXPECT_EQ("", ctl.sanitizerReports());
    server.stop();
}

} // namespace
