// The board model's meaning of each command (no wire): replies, state kept, status layout.
#include "amp_board_state.h"

#include <gtest/gtest.h>

using sim::AmpBoardState;

namespace {

std::string run(AmpBoardState& b, std::string_view cmd)
{
    auto r = b.execute(cmd);
    return r ? *r : std::string("<none>");
}

} // namespace

TEST(SimBoardState, StatusReplyHasThePart22Layout)
{
    AmpBoardState b;
    sim::StatusReadings r;
    r.rawIn = 12;
    r.rawFwd = 3456;
    r.rawRefl = 789;
    r.rawCurrent = 1024;
    r.rawTherm1 = 2048;
    r.rawTherm2 = 1500;
    r.rawPeakFwd = 4000;
    r.transmitting = true;
    r.faultByte = 0x51;
    b.setReadings(r);
    run(b, "MR0;"); // clears the power-up reset flag
    const std::string st = run(b, "ST;");
    ASSERT_EQ(st.size(), 37u) << st;
    EXPECT_EQ(st.substr(0, 2), "ST");
    EXPECT_EQ(st[2], '0');                 // byte 0: no pads
    EXPECT_EQ(st[3], '1');                 // byte 1: transmitting
    EXPECT_EQ(st.substr(4, 4), "0012");    // input
    EXPECT_EQ(st.substr(8, 4), "3456");    // forward
    EXPECT_EQ(st.substr(12, 4), "0789");   // reflected
    EXPECT_EQ(st.substr(16, 4), "1024");   // current
    EXPECT_EQ(st.substr(20, 4), "2048");   // thermistor 1
    EXPECT_EQ(st.substr(24, 4), "1500");   // thermistor 2
    EXPECT_EQ(st[28], '1');                // byte 2 low nibble first (0x51)
    EXPECT_EQ(st[29], '5');
    EXPECT_EQ(st.substr(32, 4), "4000");   // peak forward
    EXPECT_EQ(st.back(), ';');
}

TEST(SimBoardState, StatusBytesFollowTheCommands)
{
    AmpBoardState b;
    EXPECT_EQ(b.statusByte(2), 0x80) << "power-up: the micro-controller reset flag";
    run(b, "MR0;");
    EXPECT_EQ(b.statusByte(2), 0x00);
    run(b, "AT10;");
    EXPECT_EQ(b.statusByte(0), 0x8) << "3 dB pad is bit 3";
    run(b, "AT01;");
    EXPECT_EQ(b.statusByte(0), 0x4) << "2 dB pad is bit 2";
    run(b, "AT11;");
    EXPECT_EQ(run(b, "ST;")[2], 'C');
    run(b, "AB1;");
    EXPECT_EQ(b.statusByte(1) & 0x8, 0x8);
    EXPECT_EQ(run(b, "ST;")[3], '8');
    run(b, "AB0;");
    EXPECT_EQ(b.statusByte(1) & 0x8, 0);
    b.update([](sim::StatusReadings& r) {
        r.swrTrip = true;
        r.faultByte = 0x21;
        r.byte0Extra = 1;
        r.byte1Extra = 4;
    });
    EXPECT_EQ(b.statusByte(0), 0xD);
    EXPECT_EQ(b.statusByte(1), 0x6);
    EXPECT_EQ(b.statusByte(2), 0x21);
    // The protection reset clears latched faults and the SWR trip.
    EXPECT_EQ(run(b, "CPFFFF;"), "CPFFFF;");
    EXPECT_EQ(b.statusByte(2), 0);
    EXPECT_EQ(b.statusByte(1), 0x4);
    EXPECT_EQ(b.settings().protectionResets, 1);
}

TEST(SimBoardState, EveryCommandOfTheLinkTableIsAnswered)
{
    AmpBoardState b;
    b.setMeasuredFrequency(14074000);
    struct Case {
        const char* cmd;
        const char* reply;
    };
    const Case cases[] = {
        {"VSM;", "VSM1.07.03;"},
        {"SA2;", "SA2;"},
        {"FA00014200000;", "FA00014200000;"},
        {"MT1000100FF;", "MT1000100FF;"},
        {"MT;", "MT1000100FF;"},
        {"FS10001;", "FS10001;"},
        {"CPFFFF;", "CPFFFF;"},
        {"AT00;", "AT00;"},
        {"AT01;", "AT01;"},
        {"AT10;", "AT10;"},
        {"AT11;", "AT11;"},
        {"MP0;", "MP0;"},
        {"MP1;", "MP1;"},
        {"AB0;", "AB0;"},
        {"AB1;", "AB1;"},
        {"AN1;", "AN1;"},
        {"TS0001000200030004;", "TS0001000200030004;"},
        {"FN1100;", "FN1100;"},
        {"PS0003015009000100;", "PS0003015009000100;"},
        {"SF300003a;", "SF300003a;"},
        {"MR0;", "MR0;"},
        {"GM00020100;", "GM00020100;"},
        {"GS;", "GS0000000000;"},
        {"GS0200000000;", "GS0200000000;"},
        {"GS;", "GS0200000000;"},
        {"FM;", "FM100014074000;"},
        {"MR1;", "MR1;"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(b, c.cmd), c.reply) << c.cmd;
    const sim::BoardSettings s = b.settings();
    EXPECT_EQ(s.antenna, 2);
    EXPECT_EQ(s.frequencySet, 14200000u);
    EXPECT_EQ(s.tuneWord, 0x000100FFu);
    EXPECT_EQ(s.freqSensIn, 1);
    EXPECT_EQ(s.freqPeriod, 1);
    EXPECT_EQ(s.attenuatorCode, 3);
    EXPECT_TRUE(s.protection);
    EXPECT_TRUE(s.bypass);
    EXPECT_EQ(s.anState, 1);
    EXPECT_EQ(s.ts, (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_EQ(s.ps, (std::array<int, 4>{3, 150, 900, 100}));
    EXPECT_EQ(s.fanPercent, 100);
    EXPECT_EQ(s.sf, "300003a");
    EXPECT_EQ(s.gm, (std::array<int, 2>{2, 100}));
    EXPECT_EQ(s.general, "0200000000");
    EXPECT_FALSE(s.resetFlag);
    EXPECT_TRUE(s.bootloader);
}

TEST(SimBoardState, IdentityBlocksAreHexPairsAfterTheBlockDigit)
{
    AmpBoardState b;
    std::array<uint8_t, 32> blk{};
    for (size_t i = 0; i < blk.size(); ++i)
        blk[i] = static_cast<uint8_t>(0xA0 + i);
    b.setIdentityBlock(1, blk);
    b.setAmpModel('1');
    const std::string e0 = run(b, "ER0000;");
    ASSERT_EQ(e0.size(), 6u + 64u + 1u);
    EXPECT_EQ(e0.substr(0, 6), "ER0000");
    EXPECT_EQ(e0[5], '0');
    EXPECT_EQ(e0.substr(6, 6), "53494D") << "block 0 starts with the text SIM";
    const std::string e1 = run(b, "ER0001;");
    EXPECT_EQ(e1[5], '1');
    EXPECT_EQ(e1.substr(6, 4), "A0A1");
    EXPECT_EQ(e1.substr(6 + 62, 2), "BF");
    const std::string e2 = run(b, "ER0002;");
    EXPECT_EQ(e2[5], '2');
    EXPECT_EQ(e2.substr(6, 4), "0131") << "EE2 byte, then the model byte '1'";
    for (char c : e0.substr(6, 64))
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << e0;
}

TEST(SimBoardState, VersionIsSevenCharactersFromPosition3)
{
    AmpBoardState b;
    b.setVersion("2.0");
    EXPECT_EQ(run(b, "VSM;"), "VSM2.0    ;");
    b.setVersion("9.87.654321");
    EXPECT_EQ(run(b, "VSM;").substr(3, 7), "9.87.65");
}

TEST(SimBoardState, FrequencyCounterReplyCarriesElevenDigitsFromPosition3)
{
    AmpBoardState b;
    EXPECT_EQ(run(b, "FM;"), "FM000000000000;");
    b.setMeasuredFrequency(7100123);
    const std::string fm = run(b, "FM;");
    EXPECT_EQ(fm.substr(3, 11), "00007100123");
}

TEST(SimBoardState, UnknownAndMalformedCommandsAreRefused)
{
    AmpBoardState b;
    EXPECT_EQ(run(b, "QQ;"), "QQ?;");
    EXPECT_EQ(run(b, "SA7;"), "SA!;");
    EXPECT_EQ(run(b, "AT2;"), "AT!;");
    EXPECT_EQ(run(b, "FN1200;"), "FN!;");
    EXPECT_EQ(run(b, "ER0009;"), "ER!;");
    EXPECT_EQ(run(b, "ST1;"), "ST!;");
    EXPECT_EQ(run(b, ";"), "<none>");
    EXPECT_EQ(run(b, "ST"), "<none>");
    EXPECT_EQ(b.settings().antenna, 1) << "a refused command changes nothing";
}

TEST(SimBoardState, ReadingsAreClampedToFourDigits)
{
    AmpBoardState b;
    sim::StatusReadings r;
    r.rawFwd = 12345;
    r.rawIn = -5;
    b.setReadings(r);
    const std::string st = run(b, "ST;");
    EXPECT_EQ(st.substr(4, 4), "0000");
    EXPECT_EQ(st.substr(8, 4), "9999");
}

TEST(SimBoardState, PhysicsHookRunsBeforeEachStatusReply)
{
    AmpBoardState b;
    b.setPhysics([](const sim::BoardSettings& s, sim::StatusReadings& r) {
        r.rawFwd = s.attenuatorCode == 3 ? 100 : 2000;
    });
    EXPECT_EQ(run(b, "ST;").substr(8, 4), "2000");
    run(b, "AT11;");
    EXPECT_EQ(run(b, "ST;").substr(8, 4), "0100");
    b.setPhysics({});
    EXPECT_EQ(run(b, "ST;").substr(8, 4), "0100");
}

TEST(SimBoardState, PowerCycleRestoresPowerUpSettings)
{
    AmpBoardState b;
    run(b, "MR0;");
    run(b, "AB1;");
    run(b, "SA3;");
    b.powerCycle();
    const sim::BoardSettings s = b.settings();
    EXPECT_TRUE(s.resetFlag);
    EXPECT_FALSE(s.bypass);
    EXPECT_EQ(s.antenna, 1);
}
