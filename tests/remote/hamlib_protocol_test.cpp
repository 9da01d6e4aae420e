// The ampctld line protocol against a works record: the command table's answers in their
// plain and extended forms, the fault/warning split of the error list, refused and bad set
// commands that queue nothing, the frequency handed to the screen loop, and the server's
// settings file.
#include "amplifier/amp_test_util.h"
#include "core/threads.h"
#include "remote/hamlib_protocol.h"
#include "remote/hamlib_server.h"
#include "support/sim_root.h"
#include "ui/screen_loop.h"

#include <gtest/gtest.h>

namespace {

std::string answer(Works* w, std::string_view line, bool allowSet = false)
{
    std::string reply;
    EXPECT_EQ(0, answerHamlibLine(w, line, allowSet, reply));
    return reply;
}

} // namespace

TEST(HamlibProtocol, ReadsAnswerInHamlibForms)
{
    auto works = freshWorks();
    Works* w = works.get();
    w->pwrFwd = 612.6f;
    w->pwrRefl = 24.4f;
    w->pwrIn = 9.5f;
    w->pwrPeak = 700.2f;
    w->swr = 1.4375f;
    w->interfaceMode = 0;
    w->frequency = 14070000;
    w->freqMeasured = 0;

    // The state dump answers the protocol version alone; the model only in the extended form.
    EXPECT_EQ("0\n", answer(w, "\\dump_state"));
    EXPECT_EQ("dump_state:\nampctld Protocol Ver: 0\nAmplifier Model: ampctl\nRPRT 0\n", answer(w, "+\\dump_state"));
    // Generic mode: the board's counter once it has measured a carrier, else the frequency.
    EXPECT_EQ("14070000\n", answer(w, "f"));
    w->freqMeasured = 7012345;
    EXPECT_EQ("7012345\n", answer(w, "\\get_freq"));
    w->interfaceMode = 2;
    EXPECT_EQ("14070000\n", answer(w, "f"));

    EXPECT_EQ("613\n", answer(w, "l PWRFORWARD"));
    EXPECT_EQ("24\n", answer(w, "l PWRREFLECTED"));
    EXPECT_EQ("10\n", answer(w, "\\get_level PWRINPUT"));
    EXPECT_EQ("700\n", answer(w, "l  PWRPEAK \r"));
    EXPECT_EQ("1.437500\n", answer(w, "l SWR"));
    EXPECT_EQ("SWR PWRINPUT PWRFORWARD PWRREFLECTED PWRPEAK FAULT WARNING \n", answer(w, "l ?"));

    // The extended form: the command with its argument, labelled values, the report; '+'
    // separates with line ends, another mark with itself; a failure has no values.
    EXPECT_EQ("get_level: SWR\n1.437500\nRPRT 0\n", answer(w, "+l SWR"));
    EXPECT_EQ("get_level: PWRPEAK\n700\nRPRT 0\n", answer(w, "+\\get_level PWRPEAK"));
    EXPECT_EQ("get_freq:;Frequency(Hz): 14070000;RPRT 0\n", answer(w, ";f"));
    EXPECT_EQ("get_freq:|Frequency(Hz): 14070000|RPRT 0\n", answer(w, " |\\get_freq"));
    EXPECT_EQ("get_level: FOO\nRPRT -1\n", answer(w, "+l FOO"));
    EXPECT_EQ("get_level:\nRPRT -1\n", answer(w, "+l"));
    EXPECT_EQ("set_freq: 7100000\nRPRT -9\n", answer(w, "+F 7100000"));
    EXPECT_EQ("RPRT -4\n", answer(w, "+\\dump_caps"));

    w->ampBypass = 1;
    EXPECT_EQ("2\n", answer(w, "\\get_powerstat"));
    w->ampBypass = 0;
    EXPECT_EQ("4\n", answer(w, "\\get_powerstat"));
    EXPECT_EQ("get_powerstat:\nPower Status: 4\nRPRT 0\n", answer(w, "+\\get_powerstat"));
    const std::string info = answer(w, "_");
    EXPECT_EQ(0u, info.rfind("ampctl ", 0));
    EXPECT_EQ("get_info:\nInfo: " + info + "RPRT 0\n", answer(w, "+\\get_info"));

    // Unknown or unsupported commands, levels the unit does not measure, missing arguments.
    EXPECT_EQ("RPRT -4\n", answer(w, "w FA;"));
    EXPECT_EQ("RPRT -4\n", answer(w, "\\dump_caps"));
    EXPECT_EQ("RPRT -4\n", answer(w, "\\set_level SWR 1"));
    EXPECT_EQ("RPRT -4\n", answer(w, "ff"));
    EXPECT_EQ("RPRT -1\n", answer(w, "l NH"));
    EXPECT_EQ("RPRT -1\n", answer(w, "l"));
    EXPECT_EQ("", answer(w, "   "));
    EXPECT_EQ("", answer(w, "# f"));
    EXPECT_EQ("RPRT -1\n", answer(w, std::string(HAMLIB_LINE_MAX + 1, 'f')));

    std::string reply;
    EXPECT_EQ(1, answerHamlibLine(w, "q", false, reply));
    EXPECT_EQ(1, answerHamlibLine(w, "\\quit", false, reply));
    EXPECT_EQ("", reply);
}

TEST(HamlibProtocol, FaultsAndWarningsComeFromTheErrorList)
{
    auto works = freshWorks();
    Works* w = works.get();
    EXPECT_EQ("None\n", answer(w, "l FAULT"));
    EXPECT_EQ("None\n", answer(w, "l WARNING"));
    setErrorDetail(w, 15, "REFL");
    AddErrore(w, 15);  // protection fault
    AddErrore(w, 12);  // temporary: automatic tuning timed out
    AddErrore(w, 1);   // high SWR, protection fault
    AddErrore(w, 19);  // band in stand-by: protection, but temporary
    EXPECT_EQ("Error REFL, HI SWR error\n", answer(w, "l FAULT"));
    EXPECT_EQ("Auto Tune timeout, Band warn StBy\n", answer(w, "l WARNING"));
}

TEST(HamlibProtocol, SetsQueueTheBoardCommandsOnlyWhenAllowedAndValid)
{
    TestRoot root("hamlib-sets");
    auto works = freshWorks();
    Works* w = works.get();
    // Refused without permission, or with a bad argument: nothing queued, nothing changed.
    const char* refused[] = {"\\set_powerstat 2", "F 7100000", "R 1", "\\set_powerstat 1"};
    for (const char* line : refused)
        EXPECT_EQ("RPRT -9\n", answer(w, line)) << line;
    const char* bad[] = {"\\set_powerstat 3", "\\set_powerstat", "\\set_powerstat 2x", "\\set_powerstat 2.5",
                         "F", "F 14e", "F 50", "F 61000000", "F nan", "F inf", "F -7100000", "R", "R one"};
    for (const char* line : bad)
        EXPECT_EQ("RPRT -1\n", answer(w, line, true)) << line;
    // The unit is on already; it cannot switch itself off.
    EXPECT_EQ("RPRT 0\n", answer(w, "\\set_powerstat 1", true));
    EXPECT_EQ("RPRT -11\n", answer(w, "\\set_powerstat 0", true));
    EXPECT_TRUE(drainQueue(w).empty());
    EXPECT_EQ(14070000u, static_cast<uint32_t>(w->frequency));

    // Stand-by and operate as the attenuator key makes them: stand-by only from operate,
    // operate with the attenuator step again; never stand-by while transmitting.
    w->ampBypass = 0;
    w->attenuator = 2;
    EXPECT_EQ("RPRT 0\n", answer(w, "\\set_powerstat 2", true));
    EXPECT_EQ((std::vector<int>{CMD_AMP_BYPASS}), drainQueue(w));
    EXPECT_EQ(4, w->attenuatorSel);
    w->ampBypass = 1;
    EXPECT_EQ("RPRT 0\n", answer(w, "\\set_powerstat 4", true));
    EXPECT_EQ((std::vector<int>{CMD_ATTENUATOR, CMD_AMP_IN_LINE}), drainQueue(w));
    EXPECT_EQ(2, w->attenuatorSel);
    w->ampBypass = 0;
    w->statoAmp[1] = 1;
    EXPECT_EQ("RPRT -9\n", answer(w, "\\set_powerstat 2", true));
    EXPECT_TRUE(drainQueue(w).empty());
    w->statoAmp[1] = 0;
}

TEST(HamlibProtocol, FrequencySetIsHandedToTheScreenLoop)
{
    TestRoot root("hamlib-freq");
    auto works = freshWorks();
    Works* w = works.get();
    // Without the screen loop nothing would follow the frequency: the set is refused.
    ASSERT_FALSE(thrTime.valid);
    EXPECT_EQ("RPRT -9\n", answer(w, "F 7100000", true));
    EXPECT_EQ(0u, w->frequencyAsked.load());

    // With the loop running, the set only hands the frequency over: the server's thread
    // changes nothing of the band and queues nothing.
    thrTime.valid = true;
    w->interfaceMode = 1;
    EXPECT_EQ("RPRT 0\n", answer(w, "F 7100000.4", true));
    thrTime.valid = false;
    EXPECT_EQ(7100000u, w->frequencyAsked.load());
    EXPECT_EQ(14070000u, static_cast<uint32_t>(w->frequency));
    EXPECT_TRUE(drainQueue(w).empty());

    // The loop's next frame moves the band: outside Generic mode the board is told the new
    // frequency first.
    SerParam parameters;
    parameters.frequency = 14070000;
    followFrequency(w, parameters);
    EXPECT_EQ(7100000u, static_cast<uint32_t>(w->frequency));
    EXPECT_EQ(7100000u, static_cast<uint32_t>(w->lastFrequency));
    EXPECT_EQ(0u, w->frequencyAsked.load());
    const std::vector<int> queued = drainQueue(w);
    ASSERT_FALSE(queued.empty());
    EXPECT_EQ(CMD_FREQUENCY, queued.front());

    // Generic mode: the set stands in for the counter's reading; no frequency command.
    thrTime.valid = true;
    w->interfaceMode = 0;
    EXPECT_EQ("RPRT 0\n", answer(w, "\\set_freq 14074000", true));
    thrTime.valid = false;
    followFrequency(w, parameters);
    EXPECT_EQ(14074000u, static_cast<uint32_t>(w->freqMeasured));
    EXPECT_EQ(14074000u, static_cast<uint32_t>(w->lastFrequency));
    for (int n : drainQueue(w))
        EXPECT_NE(CMD_FREQUENCY, n);
}

TEST(HamlibSettings, OffByDefaultLoopbackAndReadOnlyUnlessNamed)
{
    const HamlibSettings none = parseHamlibSettings("");
    EXPECT_EQ(0, none.port);
    EXPECT_EQ("127.0.0.1", none.address);
    EXPECT_FALSE(none.allowSet);

    const HamlibSettings s = parseHamlibSettings("; server\r\nPort: 4532\r\nAddress: 0.0.0.0\nAllowSet: 1\n");
    EXPECT_EQ(4532, s.port);
    EXPECT_EQ("0.0.0.0", s.address);
    EXPECT_TRUE(s.allowSet);

    EXPECT_EQ(0, s.kpaPort);
    EXPECT_EQ(HAMLIB_IDLE_DEFAULT_S, s.idleSeconds);
    const HamlibSettings kpa = parseHamlibSettings("KpaPort: 1500\nIdleTimeout: 5\n");
    EXPECT_EQ(0, kpa.port);
    EXPECT_EQ(1500, kpa.kpaPort);
    EXPECT_EQ(5, kpa.idleSeconds);
    // Both on one port: the KPA1500 listener stays off.
    EXPECT_EQ(0, parseHamlibSettings("Port: 4532\nKpaPort: 4532\n").kpaPort);

    const HamlibSettings bad = parseHamlibSettings(
        "Port: 70000\nAddress: example\nAllowSet: yes\nColour: red\nno colon\nPort: 12x\nKpaPort: -1\n"
        "IdleTimeout: 0\nIdleTimeout: 99999999999999999999\n");
    EXPECT_EQ(0, bad.port);
    EXPECT_EQ(0, bad.kpaPort);
    EXPECT_EQ(HAMLIB_IDLE_DEFAULT_S, bad.idleSeconds);
    EXPECT_EQ("127.0.0.1", bad.address);
    EXPECT_FALSE(bad.allowSet);
}
