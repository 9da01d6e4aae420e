// The command table of the link: for every command number, the frame written to the port
// (lower-case CRC digits, then the text), the log line on standard error, and the fields
// and next state it sets.
#include "amp_test_util.h"
#include "amplifier/crc8.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

class CommandPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, pipe2(fds_, O_NONBLOCK | O_CLOEXEC));
        works_->linFD = fds_[1];
        works_->antenna = 1;
        works_->attenuator = 2;
        works_->attenuatorTune = 1;
        works_->anState = 1;
        works_->fanPercent = 50;
        works_->fanPercentCPU = 70;
        works_->sfValue = 0x80;
        works_->tuneval = 0x00810000;
        snprintf(works_->impostazioniGenerali, sizeof works_->impostazioniGenerali, "0300000000");
    }
    void TearDown() override
    {
        close(fds_[0]);
        close(fds_[1]);
    }
    struct Sent {
        std::string text;  // after the CRC digits
        std::string log;   // standard error
    };
    // Sends command `number` and returns what went to the port and to standard error.
    Sent send(int number)
    {
        testing::internal::CaptureStderr();
        sendLinearCommand(works_.get(), number);
        Sent out;
        out.log = testing::internal::GetCapturedStderr();
        char buf[128];
        ssize_t n = read(fds_[0], buf, sizeof buf);
        std::string frame = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
        if (frame.size() < 2)
            return out;
        out.text = frame.substr(2);
        char crc[3];
        snprintf(crc, sizeof crc, "%02x",
                 Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>(out.text.data()), out.text.size()));
        EXPECT_EQ(crc, frame.substr(0, 2)) << "command " << number;
        return out;
    }
    std::unique_ptr<Works> works_ = freshWorks();
    int fds_[2] = {-1, -1};
};

TEST_F(CommandPort, EveryCommandWritesItsTextAndItsLogLine)
{
    struct Row {
        int number;
        const char* text;
        const char* log;
    };
    const Row rows[] = {
        {0, "VSM;", ""},
        {1, "ST;", ""},
        {7, "SA2;", ""},
        {8, "FM;", ""},
        {9, "FA00014070000;", ""},
        {10, "MT;", ""},
        {11, "MT100810000;", ""},
        {12, "FS00001;", ""},
        {13, "CPFFFF;", ""},
        {14, "AT10;", ">> AT10;\n"},
        {15, "AT01;", ">> AT01;\n"},
        {16, "AT11;", ">> AT11;\n"},
        {17, "MP0;", ""},
        {18, "MP1;", ""},
        {19, "AB0;", ">> AB0;\n"},
        {20, "AB1;", ">> AB1;\n"},
        {21, "AN1;", ">> AN1;\n"},
        {22, "TS4095409515003700;", ""},
        {23, "FN1050;", ">> FN1050;\n"},
        {24, "PS0001100000000000;", ">> PS0001100000000000;\n"},
        {28, "SF3000080;", ">> SF3000080;\n"},
        {32, "MR0;", ""},
        {33, "GM00020100;", ">> GM00020100;\n"},
        {34, "GS;", ">>r: GS;\n"},
        {36, "ER0000;", ""},
        {37, "ER0001;", ""},
        {38, "ER0002;", ""},
        {41, "FN1070;", ">>CPU FN1070;\n"},
    };
    for (const Row& r : rows) {
        linearProcessStatus = r.number;
        const Sent s = send(r.number);
        EXPECT_EQ(r.text, s.text) << "command " << r.number;
        EXPECT_EQ(r.log, s.log) << "command " << r.number;
        EXPECT_EQ(LINK_WAIT_REPLY, linearProcessStatus) << "command " << r.number;
    }
    // Side effects of the table.
    EXPECT_EQ(1, works_->atuBypass) << "command 11 takes the bypass bit of the word it sends";
    EXPECT_EQ(1, works_->bypassReq);
    EXPECT_EQ(4, works_->attenuatorSel);
    EXPECT_EQ(0, works_->fanCmdPending);
    EXPECT_EQ(70, works_->fanPercentSent) << "the last fan command sent was the processor's";
}

TEST_F(CommandPort, MicroResetGoesIdleAndTunerCommandsRewriteTheWord)
{
    works_->pageIdx = 4;
    const Sent mr = send(30);
    EXPECT_EQ("MR1;", mr.text);
    EXPECT_EQ(LINK_IDLE, linearProcessStatus);
    EXPECT_EQ(0, works_->pageIdx);
    EXPECT_EQ(4u, works_->svcFlags & 4u);

    // Bypass: bit 16 set, bits 18 and 23 cleared, the relays kept.
    works_->tuneval = 0x00840006;
    EXPECT_EQ("MT100010006;", send(39).text);
    EXPECT_EQ(1, works_->atuBypass);
    // Reset: every relay off, side B.
    EXPECT_EQ("MT100800000;", send(40).text);
    EXPECT_EQ(0, works_->atuBypass);
    EXPECT_EQ(0, works_->capacita);
    // Recall with nothing stored: the word goes out as it is, out of bypass.
    works_->atuBypass = 1;
    EXPECT_EQ("MT100800000;", send(27).text);
    EXPECT_EQ(0, works_->atuBypass);
}

TEST_F(CommandPort, GeneralSettingsCarryTheInterfaceModeBit)
{
    // Bit 1 of the second character is set in interface mode 0 and cleared otherwise.
    for (int mode : {0, 1, 2}) {
        works_->interfaceMode = mode;
        for (const char* stored : {"0300000000", "0100000000"}) {
            snprintf(works_->impostazioniGenerali, sizeof works_->impostazioniGenerali, "%s", stored);
            const Sent s = send(35);
            EXPECT_EQ(mode == 0 ? "GS0300000000;" : "GS0100000000;", s.text) << mode << " " << stored;
            EXPECT_EQ("", s.log);
        }
    }
    EXPECT_STREQ("0100000000", works_->impostazioniGenerali) << "the stored settings are not changed";
}

} // namespace
