// The maker's transceiver's framed messages: the hunt, the length digits, every row of the
// parameter frame with the level rule, the spectrum values and their alignment.
#include "core/works.h"
#include "transceiver/serial_frames.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

// Feeds the bytes and returns the events, in order.
std::vector<SerialEvent> feedAll(FrameHunter& hunter, const std::vector<uint8_t>& in)
{
    std::vector<SerialEvent> events;
    for (uint8_t b : in) {
        const SerialEvent e = hunter.feed(b);
        if (e != SerialEvent::None)
            events.push_back(e);
    }
    return events;
}

// b1..b8 of a frame carrying the frequency, in the '0'..'?' digits.
std::string frequencyDigits(uint32_t hz)
{
    std::string s;
    for (int shift = 28; shift >= 0; shift -= 4)
        s += static_cast<char>('0' + ((hz >> shift) & 0xF));
    return s;
}

TEST(SerialFrames, LengthDigitsAreLeastSignificantFirstWithColonToQuestionMarkAboveNine)
{
    const uint8_t params[4] = {'0', '2', '0', '0'};
    EXPECT_EQ(0x20, decodeLengthDigits(params));
    const uint8_t spectrum[4] = {'0', '0', '4', '0'};
    EXPECT_EQ(1024, decodeLengthDigits(spectrum));
    const uint8_t ten[4] = {':', '0', '0', '0'};
    EXPECT_EQ(10, decodeLengthDigits(ten));
    const uint8_t allF[4] = {'?', '?', '?', '?'};
    EXPECT_EQ(0xFFFF, decodeLengthDigits(allF));
    // The text stops at its first non-digit (most significant first), as a number read does.
    const uint8_t partial[4] = {'1', 'z', '0', '3'};
    EXPECT_EQ(0x30, decodeLengthDigits(partial));
    const uint8_t none[4] = {'1', '0', '0', 'z'};
    EXPECT_EQ(-1, decodeLengthDigits(none));
}

TEST(SerialFrames, HuntSkipsNoiseReadsBothKindsAndRefusesOversizedLengthsWithoutLosingTheNext)
{
    FrameHunter hunter;
    std::vector<uint8_t> in = bytes("\xff\x7f garbage ");
    // A parameter frame of 32 bytes.
    std::vector<uint8_t> header = {1, '1', '0', '2', '0', '0'};
    in.insert(in.end(), header.begin(), header.end());
    std::vector<uint8_t> payload(32, 0x41);
    in.insert(in.end(), payload.begin(), payload.end());
    // A length of 0x7D0 = 2000: refused, the hunt resumes at the next byte.
    const std::vector<uint8_t> oversized = {0, '0', '0', '=', '7', '0'};
    in.insert(in.end(), oversized.begin(), oversized.end());
    // A spectrum line of 10 bytes right after it.
    const std::vector<uint8_t> line = {0, '0', ':', '0', '0', '0', 200, 201, 202, 203, 204, 205, 206, 207, 208, 209};
    in.insert(in.end(), line.begin(), line.end());
    // Other subtypes and types: the header alone.
    const std::vector<uint8_t> others = {0, '1', '4', '0', '0', '0', 7, '0', '0', '0', '0', '0'};
    in.insert(in.end(), others.begin(), others.end());

    const std::vector<SerialEvent> events = feedAll(hunter, in);
    ASSERT_EQ((std::vector<SerialEvent>{SerialEvent::Parameters, SerialEvent::BadLength, SerialEvent::Spectrum,
                                        SerialEvent::OtherSubtype, SerialEvent::OtherType}),
              events);
    EXPECT_FALSE(hunter.inMessage());
    EXPECT_EQ(7, hunter.type());

    // The payload of each event as it completes.
    FrameHunter h2;
    std::vector<uint8_t> spectrumOnly(line.begin(), line.end());
    ASSERT_EQ(std::vector<SerialEvent>{SerialEvent::Spectrum}, feedAll(h2, spectrumOnly));
    EXPECT_EQ((std::vector<uint8_t>{200, 201, 202, 203, 204, 205, 206, 207, 208, 209}),
              std::vector<uint8_t>(h2.payload().begin(), h2.payload().end()));
    FrameHunter h3;
    EXPECT_EQ(std::vector<SerialEvent>{SerialEvent::BadLength}, feedAll(h3, oversized));
    EXPECT_EQ(2000, h3.length());
    EXPECT_STREQ("07D0", h3.lengthText());
    EXPECT_TRUE(h3.payload().empty());
}

TEST(SerialFrames, FrequencyGoesToTheVfoOfTheFrameAndTheActiveOneIsTheOperatingFrequency)
{
    SerParam p;
    // 14 070 000 Hz = 00D6B0F0 arrives as '0' '0' '=' '6' ';' '0' '?' '0'.
    EXPECT_EQ("00=6;0?0", frequencyDigits(14070000));
    std::vector<uint8_t> f = bytes(std::string(1, '\0') + "00=6;0?0");
    decodeParameterFrame(p, f);
    EXPECT_EQ(14070000, p.freqA);
    EXPECT_EQ(14070000, p.frequency);
    EXPECT_EQ(14070000, p.freqRaw);

    // VFO B active, the frame's frequency for VFO B.
    f = bytes(std::string(1, '\x30') + frequencyDigits(7100000));
    decodeParameterFrame(p, f);
    EXPECT_EQ(7100000, p.freqB);
    EXPECT_EQ(7100000, p.frequency);
    EXPECT_EQ(14070000, p.freqPrev);
    EXPECT_EQ(7100000, p.freqLast);

    // b0 = 0x20: VFO B active, the frequency for VFO A: freqA moves, freq stays at freqB.
    f = bytes(std::string(1, '\x20') + frequencyDigits(3600000));
    decodeParameterFrame(p, f);
    EXPECT_EQ(3600000, p.freqA);
    EXPECT_EQ(7100000, p.frequency);
    EXPECT_EQ(1, p.vfoB);
    EXPECT_EQ(0, p.freqOfB);

    // The memory channel.
    f = bytes(std::string(1, '\x01') + frequencyDigits(21200000));
    decodeParameterFrame(p, f);
    EXPECT_EQ(21200000, p.freqM);
    EXPECT_EQ(21200000, p.frequency);
    EXPECT_EQ(1, p.freqOfM);

    // Raw bytes 0x00..0x0F give the same digits as '0'..'?'.
    std::vector<uint8_t> raw = {0x00, 0x00, 0x00, 0x0D, 0x06, 0x0B, 0x00, 0x0F, 0x00};
    decodeParameterFrame(p, raw);
    EXPECT_EQ(14070000, p.frequency);

    // Status bits of b0.
    f = bytes(std::string(1, '\x4C') + frequencyDigits(1));
    decodeParameterFrame(p, f);
    EXPECT_EQ(1, p.stat6);
    EXPECT_EQ(3, p.stat32);
}

// A frame of `length` bytes: b0 = 0, a frequency, then the given bytes from b9 on.
std::vector<uint8_t> frame(const std::vector<uint8_t>& fromB9, size_t length = 31)
{
    std::vector<uint8_t> f = bytes(std::string(1, '\0') + frequencyDigits(7000000));
    f.insert(f.end(), fromB9.begin(), fromB9.end());
    f.resize(length, 0);
    return f;
}

TEST(SerialFrames, EveryRowUnderItsConditionAndTheLevelRule)
{
    SerParam p;
    // b9 transmit and mode; b10 audio selector and switches; b11 AN request and squelch;
    // b12/b13 filters; b14 NR; b15 NB; b16..b19 selectors; b20 ATT/LP/AN/sw20; b21 level;
    // b22 volume; b23..b25 shift12; b26..b30 shift20.
    decodeParameterFrame(p, frame({0xC0 | 0x20 | 0x04, 0x40 | 0x10 | 0x08 | 0x01, 0x40 | 0x20 | 0x07,
                                   0x80 | (3 << 3) | 0x02, 0x40 | 0x20 | 0x09, 0x35, 0x36, 0x60 | 0x05, 0x60 | 0x1F,
                                   0x3A, 0x60 | (5 << 2) | 2, 0x40 | 0x10 | 0x08 | 0x04 | 0x01, 231, 0x80 | 33,
                                   '2', '5', '8', '0', '0', '3', '>', '8'}));
    EXPECT_EQ(1, p.txFlag);
    EXPECT_EQ(1, p.st9b5);
    EXPECT_EQ(0, p.st9b4);
    EXPECT_EQ(4, p.modeRaw);
    EXPECT_EQ(4, p.modeA);
    EXPECT_EQ(4, p.mode);
    EXPECT_EQ(1, p.audioSel);
    EXPECT_EQ(-1, p.sw3);
    EXPECT_EQ(1, p.sw2);
    EXPECT_EQ(1, p.sw1);
    EXPECT_EQ(1, p.sw0);
    EXPECT_EQ(1, p.anReq);
    EXPECT_EQ(0, p.st11b4);
    EXPECT_EQ(7, p.sqlLevel);
    EXPECT_EQ(0, p.flt2);
    EXPECT_EQ(2, p.fltLo);
    EXPECT_EQ(3, p.fltMid);
    EXPECT_EQ(9, p.fltHi);
    EXPECT_EQ(4, p.fltIdx);  // b12 bits 6..3 plus 1 without flt2
    EXPECT_EQ(1, p.st13b5);
    EXPECT_EQ(5, p.nrLevel);
    EXPECT_EQ(6, p.nbLevel);
    EXPECT_EQ(6, p.sel16);
    EXPECT_EQ(32, p.sel17);
    EXPECT_EQ(11, p.sel18);
    EXPECT_EQ(6, p.sel19a);
    EXPECT_EQ(3, p.sel19b);
    EXPECT_EQ(1, p.attLevel);
    EXPECT_EQ(1, p.lpLevel);
    EXPECT_EQ(2, p.anLevel);
    EXPECT_EQ(1, p.sw20);
    EXPECT_EQ(20, p.level21);
    EXPECT_EQ(33, p.volAuxLevel);  // audio selector 1
    EXPECT_EQ(0x258, p.shift12);
    EXPECT_EQ(1000, p.shift20);
    EXPECT_EQ(0, p.unused21);

    // The level rule: 0 after a level keeps it as its negative; a 0 when there never was
    // one stores the start value. flt2 picks the other filter index.
    decodeParameterFrame(p, frame({0x80, 0x40 | 0x01, 0x40, 0x80 | 0x04, 0x40 | 0x03, 0x30, 0x30, 0, 0, 0, 0,
                                   0x40, 0, 0, 0, 0, 0, '8', '0', '0', '0', '0'}));
    EXPECT_EQ(0, p.txFlag);
    EXPECT_EQ(0, p.audioSel);
    EXPECT_EQ(1, p.sw3);
    EXPECT_EQ(-1, p.sw20);
    EXPECT_EQ(-7, p.sqlLevel);
    EXPECT_EQ(0, p.anReq);
    EXPECT_EQ(-2, p.fltLo);
    EXPECT_EQ(-3, p.fltMid);
    EXPECT_EQ(3, p.fltHi);
    EXPECT_EQ(8, p.fltIdx);  // b13 bits 3..0 plus 5 with flt2
    EXPECT_EQ(-5, p.nrLevel);
    EXPECT_EQ(-6, p.nbLevel);
    EXPECT_EQ(6, p.sel16) << "selectors kept: b16 fails its condition";
    EXPECT_EQ(-1, p.attLevel);
    EXPECT_EQ(-1, p.lpLevel);
    EXPECT_EQ(-2, p.anLevel);
    EXPECT_EQ(50, p.volLevel) << "first 0 of the main volume stores its start value";
    EXPECT_EQ(-211, p.level21);
    EXPECT_EQ(0, p.shift12);
    EXPECT_EQ(-524288, p.shift20);

    SerParam fresh;
    decodeParameterFrame(fresh, frame({0x80, 0x60, 0x40}));
    EXPECT_EQ(-1, fresh.sqlLevel) << "a first squelch of 0 ever stores -1";
    EXPECT_EQ(5, fresh.volSideLevel) << "selector 2: side tone volume, start 5";
    EXPECT_EQ(0, fresh.volLevel);

    // Rows beyond a short frame's length, or with their marker bits wrong, keep their slots.
    SerParam kept = p;
    decodeParameterFrame(kept, frame({0xC0 | 0x02, 0x40}, 10));
    EXPECT_EQ(1, kept.txFlag);
    EXPECT_EQ(0, kept.audioSel) << "b10 not read in a 10-byte frame";
    EXPECT_EQ(p.sqlLevel, kept.sqlLevel);
    EXPECT_EQ(p.shift20, kept.shift20);
    decodeParameterFrame(kept, frame({0x40, 0x80, 0x00}));
    EXPECT_EQ(1, kept.txFlag) << "b9 without bit 7";
    EXPECT_EQ(0, kept.audioSel) << "b10 without 01 in bits 7..6";
}

TEST(SerialFrames, SpectrumValuesTakeBytes85OnAndFillTheRestWithTheFloor)
{
    std::array<float, 1024> out;
    std::vector<uint8_t> line(1024, 192);
    line[85] = 132;   // -60 dB
    line[938] = 212;  // +20 dB
    line[939] = 255;  // beyond the plot
    EXPECT_EQ(854, spectrumValues(line, out));
    EXPECT_FLOAT_EQ(-60.0f, out[0]);
    EXPECT_FLOAT_EQ(20.0f, out[853]);
    EXPECT_FLOAT_EQ(-192.0f, out[854]);
    EXPECT_FLOAT_EQ(0.0f, out[427]);

    std::vector<uint8_t> shorter(900, 100);
    EXPECT_EQ(815, spectrumValues(shorter, out));
    EXPECT_FLOAT_EQ(-92.0f, out[814]);
    EXPECT_FLOAT_EQ(-192.0f, out[815]);
    EXPECT_EQ(0, spectrumValues(std::vector<uint8_t>(50, 1), out));
}

TEST(SerialFrames, AlignmentRotatesByModeAndShiftsAndSendsTheLineLess170)
{
    EXPECT_EQ(85, spectrumAlignStart(1, 600, 0));
    EXPECT_EQ(81, spectrumAlignStart(4, 600, 0));   // 85 - 3.2
    EXPECT_EQ(88, spectrumAlignStart(6, 600, 0));   // 85 + 3.2
    EXPECT_EQ(90, spectrumAlignStart(1, 0, 1000));  // 85 + 5.33
    // x = -2.5 starts at 1021; shifts far below the line wrap round too.
    EXPECT_EQ(1021, spectrumAlignStart(1, 0, -16407));
    const int far = spectrumAlignStart(1, 0, -524288);
    EXPECT_GE(far, 0);
    EXPECT_LT(far, 1024);

    std::vector<uint8_t> line(1024);
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<uint8_t>(i % 251);
    std::array<uint8_t, ALIGNED_LINE_BYTES> out{};
    EXPECT_EQ(854u, alignSpectrumLine(line, 81, out));
    EXPECT_EQ(line[81], out[0]);
    EXPECT_EQ(line[1023], out[1023 - 81]);
    EXPECT_EQ(line[0], out[1024 - 81]);
    // A start of 1024 or more: the line as it came.
    alignSpectrumLine(line, 1024, out);
    EXPECT_EQ(line[0], out[0]);
    EXPECT_EQ(line[1023], out[1023]);
    // A short line reads zeros past its end and sends less; a line over 1194 bytes sends
    // no more than the aligned 1024, one of 170 or fewer sends nothing.
    std::vector<uint8_t> shortLine(300, 7);
    EXPECT_EQ(130u, alignSpectrumLine(shortLine, 85, out));
    EXPECT_EQ(7, out[0]);
    EXPECT_EQ(0, out[300 - 85]);
    EXPECT_EQ(1024u, alignSpectrumLine(std::vector<uint8_t>(1999, 1), 85, out));
    EXPECT_EQ(0u, alignSpectrumLine(std::vector<uint8_t>(170, 1), 85, out));
}

} // namespace
