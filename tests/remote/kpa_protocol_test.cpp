// The KPA1500 command set against a works record: every read in the device's fixed-width
// form (clamped to its digits), the fault code of the unit's error list, writes refused
// without permission and made through the front panel's paths with it, and what is not
// a command of the set left unanswered.
#include "amplifier/amp_test_util.h"
#include "core/threads.h"
#include "remote/kpa_protocol.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

namespace {

std::string ask(Works* w, std::string_view command, KpaOutcome expected = KpaOutcome::Answered,
                bool allowSet = false)
{
    std::string reply;
    EXPECT_EQ(expected, answerKpaCommand(w, command, allowSet, reply)) << command;
    return reply;
}

} // namespace

TEST(KpaProtocol, ReadsAnswerInTheDeviceForms)
{
    auto works = freshWorks();
    Works* w = works.get();
    w->pwrFwd = 612.6f;
    w->pwrRefl = 24.4f;
    w->pwrIn = 9.5f;
    w->pwrPeak = 700.2f;
    w->swr = 1.46f;
    w->interfaceMode = 1;
    w->frequency = 14070600;
    w->antenna = 1;
    w->ampBypass = 0;

    EXPECT_EQ(";", ask(w, ""));
    EXPECT_EQ(";", ask(w, "\r\n"));
    EXPECT_EQ("^AE2;", ask(w, "^AE"));
    EXPECT_EQ("^FR14071;", ask(w, "^FR"));
    EXPECT_EQ("^SW015;", ask(w, "^SW"));
    EXPECT_EQ("^PWF0613;", ask(w, "^PWF"));
    EXPECT_EQ("^PWR0024;", ask(w, "\n^PWR"));
    EXPECT_EQ("^PWI0010;", ask(w, "^PWI"));
    EXPECT_EQ("^PWK0700;", ask(w, "^PWK"));
    EXPECT_EQ("^SF00;", ask(w, "^SF"));
    EXPECT_EQ("^ON1;", ask(w, "^ON"));
    EXPECT_EQ("^OP1;", ask(w, "^OP"));
    w->ampBypass = 1;
    EXPECT_EQ("^OP0;", ask(w, "^OP"));

    // Generic mode: the counter's frequency once it has measured a carrier.
    w->interfaceMode = 0;
    w->freqMeasured = 7012345;
    EXPECT_EQ("^FR07012;", ask(w, "^FR"));
    // Values beyond the form's digits, or not numbers, stay within the form.
    w->pwrFwd = 123456.0f;
    w->pwrRefl = -3.0f;
    w->swr = 1e9f;
    EXPECT_EQ("^PWF9999;", ask(w, "^PWF"));
    EXPECT_EQ("^PWR0000;", ask(w, "^PWR"));
    EXPECT_EQ("^SW999;", ask(w, "^SW"));
    w->swr = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ("^SW000;", ask(w, "^SW"));

    // Not a command of the set: no answer.
    for (const char* c : {"^XX", "FR", "^fr", "^FRx", "^PW", "^PWFF", "^OS2", "^OS", "^FR123456", "^SF1"})
        EXPECT_EQ("", ask(w, c, KpaOutcome::Unknown));
}

TEST(KpaProtocol, FaultCodeOfTheErrorList)
{
    auto works = freshWorks();
    Works* w = works.get();
    struct Case {
        int code;
        const char* detail;
        int expected;
    };
    const Case cases[] = {
        {2, nullptr, KPA_FAULT_TEMPERATURE}, {22, nullptr, KPA_FAULT_TEMPERATURE},
        {1, nullptr, KPA_FAULT_SWR},         {3, nullptr, KPA_FAULT_INPUT},
        {13, nullptr, KPA_FAULT_ATU_NO_MATCH}, {18, nullptr, KPA_FAULT_ATU_NO_MATCH},
        {15, "REFL", KPA_FAULT_REFLECTED},   {15, "I OUT", KPA_FAULT_OTHER},
        {4, nullptr, KPA_FAULT_NONE},        {19, nullptr, KPA_FAULT_NONE},
    };
    for (const Case& c : cases) {
        VerifyWarningTemporaneiDopoResetBias(w);
        if (c.detail)
            setErrorDetail(w, c.code, c.detail);
        AddErrore(w, c.code);
        EXPECT_EQ(c.expected, kpaFaultCode(w)) << "error " << c.code;
    }
    // Warnings first in the list do not hide a fault behind them.
    VerifyWarningTemporaneiDopoResetBias(w);
    AddErrore(w, 4);
    AddErrore(w, 1);
    EXPECT_EQ("^SF09;", ask(w, "^SF"));
}

TEST(KpaProtocol, WritesOnlyWhenAllowedThroughTheFrontPanelPaths)
{
    TestRoot root("kpa-writes");
    auto works = freshWorks();
    Works* w = works.get();
    w->ampBypass = 0;
    thrTime.valid = true;
    // Refused without permission: no answer, nothing queued, nothing handed over.
    for (const char* c : {"^OS0", "^OS1", "^FR7100"})
        EXPECT_EQ("", ask(w, c, KpaOutcome::Refused, false));
    EXPECT_TRUE(drainQueue(w).empty());
    EXPECT_EQ(0u, w->frequencyAsked.load());

    EXPECT_EQ("", ask(w, "^OS0", KpaOutcome::Answered, true));
    EXPECT_EQ((std::vector<int>{CMD_AMP_BYPASS}), drainQueue(w));
    w->ampBypass = 1;
    EXPECT_EQ("", ask(w, "^OS1", KpaOutcome::Answered, true));
    EXPECT_EQ((std::vector<int>{CMD_ATTENUATOR, CMD_AMP_IN_LINE}), drainQueue(w));
    // A band: handed to the screen loop; a frequency the unit does not cover is no command.
    EXPECT_EQ("", ask(w, "^FR7100", KpaOutcome::Answered, true));
    EXPECT_EQ(7100000u, w->frequencyAsked.load());
    EXPECT_EQ("", ask(w, "^FR99", KpaOutcome::Unknown, true));
    // Stand-by while transmitting is refused, as on the front panel.
    w->ampBypass = 0;
    w->statoAmp[1] = 1;
    EXPECT_EQ("", ask(w, "^OS0", KpaOutcome::Refused, true));
    EXPECT_TRUE(drainQueue(w).empty());
    thrTime.valid = false;
}
