// The reply decoder: status layout (byte 2's nibble order, powers, temperatures, faults),
// identity blocks and settings replies, and replies too short for their keyword.
#include "amp_test_util.h"
#include "amplifier/measurements.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Decoder, StatusByteTwoIsLowNibbleFirst)
{
    auto works = freshWorks();
    // '1' at position 28 and '5' at 29: byte 2 = 0x51, bits 0, 4 and 6: the band warning wins.
    decode(works.get(), statusReply(0, 0, 0, 0, 0, 0, 2048, 2048, 0x51));
    EXPECT_EQ(0x51, works->statoAmp[2]);
    EXPECT_EQ(1, ExistError(works.get(), 19));
    EXPECT_EQ(0, ExistError(works.get(), 15));

    // Byte 2 = 0x15 (bits 0, 2, 4): the fault name of the highest bit, error 15 with it.
    decode(works.get(), statusReply(0, 0, 0, 0, 0, 0, 2048, 2048, 0x15));
    EXPECT_EQ(0x15, works->statoAmp[2]);
    EXPECT_STREQ("FILTER TX", works->ampErrText);
    EXPECT_EQ(1, ExistError(works.get(), 15));
    EXPECT_STREQ("FILTER TX", errorDescriptor(works.get(), 15).detail);
    EXPECT_EQ(1, errorFlags(works.get()) & 1) << "error 15 needs a bias reset";

    // The fault gone: error 15 leaves the list.
    decode(works.get(), statusReply(0, 0, 0, 0, 0, 0, 2048, 2048, 0));
    EXPECT_EQ(0, ExistError(works.get(), 15));
}

TEST(Decoder, StatusPowersSwrTemperaturesAndNextCommand)
{
    auto works = freshWorks();
    works->enablePwrPeak = 1;
    IncPNTIn_CMDLinear(9, works.get());
    // Forward 100 W and reflected 11.1 W (plus the directivity share) at the default factors.
    const int fwd = static_cast<int>(std::lround(std::sqrt(100.0 / K_DEFAULT_FWD)));
    const int refl = static_cast<int>(std::lround(std::sqrt((11.1 + 0.7) / K_DEFAULT_REFL)));
    const int in = static_cast<int>(std::lround(std::sqrt(5.0 / K_DEFAULT_IN)));
    decode(works.get(), statusReply(0xC, 0x1, in, fwd, refl, 1234, 2048, 1800, 0, 1500));
    EXPECT_EQ(fwd, works->rawFwd);
    EXPECT_NEAR(100.0f, works->pwrFwd, 0.1f);
    EXPECT_NEAR(11.1f, works->pwrRefl, 0.05f);
    EXPECT_NEAR(5.0f, works->pwrIn, 0.01f);
    EXPECT_NEAR(2.0f, works->swr, 0.01f);
    EXPECT_EQ(1234, works->rawCurrent);
    EXPECT_NEAR(K_DEFAULT_FWD * 1500.0f * 1500.0f, works->pwrPeak, 0.01f);
    EXPECT_EQ(0xC, works->statoAmp[0]);
    EXPECT_EQ(0x1, works->statoAmp[1]);
    // The first temperature is taken as it is, later ones move by a tenth of the difference.
    EXPECT_NEAR(24.99f, works->temp1, 0.01f);
    const float second = works->temp2;
    EXPECT_NEAR(CalcolaTemp(1800), second, 0.001f);
    EXPECT_EQ(9, linearProcessStatus) << "the queued command follows the status reply";

    decode(works.get(), statusReply(0, 0, 0, 0, 0, 0, 2048, 1000, 0, 9999));
    EXPECT_NEAR((9 * second + CalcolaTemp(1000)) / 10, works->temp2, 0.001f);
    EXPECT_FLOAT_EQ(70.0f, works->pwrPeak) << "peak capped at 70 W on the standard model";
    EXPECT_FLOAT_EQ(0.0f, works->swr);
    EXPECT_EQ(8, linearProcessStatus) << "empty queue: frequency poll";

    // A negative reflected result is 0, not a negative power.
    decode(works.get(), statusReply(0, 0, 0, 2000, 0, 0, 2048, 2048, 0));
    EXPECT_FLOAT_EQ(0.0f, works->pwrRefl);
}

TEST(Decoder, StatusFaultsAndBypassFollowing)
{
    auto works = freshWorks();
    works->bypassReq = 1;
    works->ampBypass = 0;
    // HI SWR (byte 1 bit 1) and the board bypassed while bypass was requested.
    decode(works.get(), statusReply(0, 0xA, 0, 0, 0, 0, 2048, 2048, 0));
    EXPECT_EQ(1, ExistError(works.get(), 1));
    EXPECT_EQ(1, works->ampBypass);
    // Input power error only with AN on, no tuning and no tuning-mode bits.
    works->anState = 1;
    works->autoTuneMode = 0x02;
    decode(works.get(), statusReply(0, 0x8, 0, 0, 0, 0, 2048, 2048, 0x20));
    EXPECT_EQ(0, ExistError(works.get(), 3));
    EXPECT_EQ(0, ExistError(works.get(), 1)) << "HI SWR cleared with its bit";
    works->autoTuneMode = 0x01;
    decode(works.get(), statusReply(0, 0x8, 0, 0, 0, 0, 2048, 2048, 0x20));
    EXPECT_EQ(1, ExistError(works.get(), 3));
    // Micro reset (byte 2 bit 7) counts only after a reset reply was seen.
    decode(works.get(), statusReply(0, 0x8, 0, 0, 0, 0, 2048, 2048, 0x80));
    EXPECT_EQ(0, ExistError(works.get(), 16));
    decode(works.get(), "MR0;");
    decode(works.get(), statusReply(0, 0x8, 0, 0, 0, 0, 2048, 2048, 0x80));
    EXPECT_EQ(1, ExistError(works.get(), 16));
}

TEST(Decoder, LinkFailureTakesOverTheBoardState)
{
    auto works = freshWorks();
    works->attenuator = 0;
    works->ampBypass = 0;
    AddErrore(works.get(), 4);
    decode(works.get(), statusReply(0x8, 0x8, 0, 0, 0, 0, 2048, 2048, 0));
    EXPECT_EQ(2, works->attenuator) << "3 dB pad only";
    EXPECT_EQ(2, works->attenuatorSel);
    EXPECT_EQ(1, works->ampBypass);
    decode(works.get(), statusReply(0x4, 0x0, 0, 0, 0, 0, 2048, 2048, 0));
    EXPECT_EQ(1, works->attenuator);
    EXPECT_EQ(0, works->ampBypass);
}

TEST(Decoder, IdentityAndSettingsReplies)
{
    auto works = freshWorks(false);
    decode(works.get(), "VSM1.23abc;");
    EXPECT_STREQ("1.23abc", works->microVersion);
    decode(works.get(), "FM000014074000;");
    EXPECT_EQ(14074000u, works->freqMeasured);
    decode(works.get(), "FM000000000000;");
    EXPECT_EQ(14074000u, works->freqMeasured) << "0 keeps the last measurement";
    decode(works.get(), "SA3;");
    EXPECT_EQ(2, works->antenna);
    works->tuneHold = 0x10;
    decode(works.get(), "AN1;");
    EXPECT_EQ(1, works->anState);
    EXPECT_EQ(0x30, works->tuneHold.load());
    decode(works.get(), "AB0;");
    EXPECT_EQ(0, works->ampBypass);
    decode(works.get(), "GS0323456789;");
    EXPECT_STREQ("0323456789", works->impostazioniGenerali);
    EXPECT_EQ(1, works->coaxRxTx) << "bit 1 of the second character: RX and TX on the coax input";
    decode(works.get(), "GS012;");
    EXPECT_STREQ("012", works->impostazioniGenerali);
    EXPECT_EQ(0, works->coaxRxTx);

    std::string block2 = "ER0002" + std::string("AB31") + std::string(60, '0') + ";";
    decode(works.get(), block2);
    EXPECT_EQ(0xAB, works->ampEE2a);
    EXPECT_EQ('1', works->ampModel);
    EXPECT_EQ(120, number_ofStep_meter_FWD);
    std::string block0 = "ER0000";
    for (int i = 0; i < 32; i++) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02X", i * 7);
        block0 += pair;
    }
    decode(works.get(), block0 + ";");
    for (int i = 0; i < 32; i++)
        EXPECT_EQ(static_cast<uint8_t>(i * 7), works->ampEE0[i]);

    // Errors are listed only once the board has answered "CPFFFF;".
    AddErrore(works.get(), 1);
    EXPECT_EQ(0, ExistError(works.get(), 1));
    decode(works.get(), "CPFFFF;");
    AddErrore(works.get(), 1);
    EXPECT_EQ(1, ExistError(works.get(), 1));
    number_ofStep_meter_FWD = 60;
}

TEST(Decoder, ShortRefusedAndUnknownRepliesGoThroughTheRetryPath)
{
    auto works = freshWorks();
    struct Case {
        const char* text;
        bool retried;
    };
    const Case cases[] = {
        {"ST0000;", true},           // a status reply without its readings
        {"STG100000000000000000000000000000000;", true},  // status digit not hex
        {"ST01000000000000000000000000X0000000;", true},  // status byte 2 not hex
        {"ST12345678901234567890123456789;", true},
        {"VSM12;", true},
        {"FM0123;", true},
        {"ER00;", true},
        {"ER0000ABCD;", true},       // block 0 needs 64 digits
        {"ER0002A;", true},
        {"SA;", true},
        {"SA0;", true},              // no antenna 0
        {"AN;", true},
        {"ZZ1;", true},              // unknown keyword
        {"FM?;", true},              // refused
        {"ST", true},                // keyword alone
        {"S", false},                // too short to name a command: left to the link
    };
    for (const Case& c : cases) {
        works->lastCmd = 8;
        works->retryCount = 0;
        linearProcessStatus = LINK_DECODE;
        const std::string text = c.text;
        // Hand over a copy that ends exactly at the reply, so reading past it shows under ASan.
        std::vector<char> exact(text.begin(), text.end());
        DecodeCatCmd(works.get(), exact.data(), static_cast<int>(exact.size()) + 2);
        if (c.retried) {
            EXPECT_EQ(8, linearProcessStatus) << c.text;
            EXPECT_EQ(1u, works->retryCount) << c.text;
        } else {
            EXPECT_EQ(LINK_DECODE, linearProcessStatus) << c.text;
        }
    }
    // A good reply clears the retry count and polls the status.
    decode(works.get(), "FA00014070000;");
    EXPECT_EQ(0u, works->retryCount);
    EXPECT_EQ(1, linearProcessStatus);
}
