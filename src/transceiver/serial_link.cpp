#include "transceiver/serial_link.h"

#include "amplifier/errors.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial.h"
#include "transceiver/peer_link.h"
#include "transceiver/serial_frames.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

constexpr int LINK_ERROR_HOLD_MS = 2000;
constexpr int REOPEN_MS = 2000;         // a missing or vanished port is tried again this often
constexpr int EMPTY_POLL_LIMIT = 1500;  // 1 ms polls without a byte before the link error

// tuneHold bits: a carrier request pending, carrier wanted on, "AN" sent for it, "AN" answered.
constexpr uint8_t HOLD_PENDING = 0x01;
constexpr uint8_t HOLD_CARRIER_ON = 0x02;
constexpr uint8_t HOLD_AN_SENT = 0x10;
constexpr uint8_t HOLD_AN_ANSWERED = 0x20;

constexpr char RECEIVE[] = "RX;";
constexpr char TUNE_CARRIER[] = "TU120;TX2;";

// serFD is closed and cleared, and the peer's data written to it, under this lock.
std::mutex portMutex;

bool linkOn(Works* works)
{
    return works->running && setupSwitch(works->setup, &Orvosetup::enaser) == '1';
}

// A pause that ends early when the link is switched off.
void pauseWhileOn(Works* works, int ms)
{
    for (int waited = 0; waited < ms && linkOn(works); waited += 50)
        sleepMs(50);
}

// Error 8 in the transceiver's interface mode, at most once per hold-off.
void raiseLinkError(Works* works, const char* line)
{
    if (works->interfaceMode != 1 || !claimErrorHold(works, LINK_ERROR_HOLD_MS))
        return;
    AddErrore(works, ERR_IXO_EXTIO);
    logErr("%s", line);
}

// Opens and sets up the port. A port that cannot be opened (no cable, an adapter pulled)
// raises error 8 and is logged once per outage (`reported`); the caller tries again.
// A port that refuses the line settings is the error screen's (fatalError 3): -2.
int openLink(Works* works, const char* port, bool& reported)
{
    if (!reported)
        logSys(LOG_INFO, "Init Serial Port %s", port);
    const SerialSettings settings{IGNPAR, 0, CS8 | CREAD | CLOCAL, 0, 1, 0, B115200};
    const int fd = openSerialPort(port, settings);
    if (fd == SERIAL_OPEN_FAILED) {
        if (!reported) {
            logSys(LOG_ERR, "Unable to open device %s (tried again every %d ms)", port, REOPEN_MS);
            AddErrore(works, ERR_IXO_EXTIO);
            reported = true;
        }
        return -1;
    }
    if (fd < 0) {
        logSys(LOG_ERR, "Unable to open device %s", port);
        char text[100];
        snprintf(text, sizeof text, "Serial: Unable to open device %s\n", port);
        logErr("%s", text);
        setFatalError(works, 3, text);
        return -2;
    }
    reported = false;
    logSys(LOG_INFO, "OK works->serFD=%d (%s)", fd, port);
    logErr("------------------ OK works->serFD=%d (%s)\n", fd, port);
    return fd;
}

void closeLink(Works* works, int fd)
{
    std::lock_guard<std::mutex> lock(portMutex);
    works->serFD = -1;
    close(fd);
}

void forwardSpectrum(Works* works, std::span<const uint8_t> line)
{
    // The record is read under its lock: the peer's parameter frames write it too.
    int start = 0;
    {
        std::lock_guard<std::mutex> lock(*works->serMut);
        const SerParam& p = *works->serPar;
        start = spectrumAlignStart(p.mode, p.shift12, p.shift20);
    }
    std::array<uint8_t, ALIGNED_LINE_BYTES> aligned;
    const size_t count = alignSpectrumLine(line, start, aligned);
    if (count > 0)
        peerSpectrum(works, aligned.data(), count);
}

void handleMessage(Works* works, const FrameHunter& hunter, SerialEvent event)
{
    const std::span<const uint8_t> payload = hunter.payload();
    switch (event) {
    case SerialEvent::Spectrum:
        storeFFT(works, static_cast<int>(payload.size()), payload.data());
        if (setupSwitch(works->setup, &Orvosetup::fftMirror) == '0')
            forwardSpectrum(works, payload);
        break;
    case SerialEvent::Parameters:
        storeParameters(works, static_cast<int>(payload.size()), payload.data());
        peerParameters(works, payload.data(), payload.size());
        break;
    case SerialEvent::OtherType:
        logSys(LOG_ERR, "Error3");
        break;
    case SerialEvent::BadLength:
        logErr("----------> 3SERIAL : ERROR dataLength %d   %s!!!!!!\n", hunter.length(), hunter.lengthText());
        break;
    case SerialEvent::OtherSubtype:
    case SerialEvent::None:
        break;
    }
}

// Reads the stream until the switch drops (false) or the device is gone (true).
bool readLoop(Works* works, int fd)
{
    FrameHunter hunter;
    std::array<uint8_t, 512> bytes;
    int emptyPolls = 0;
    while (linkOn(works)) {
        const SerialRead got = serialRead(fd, bytes.data(), bytes.size(), 1);
        if (got.status == SerialStatus::HungUp)
            return true;
        if (got.status == SerialStatus::Timeout) {
            if (++emptyPolls < EMPTY_POLL_LIMIT)
                continue;
            emptyPolls = 0;
            if (hunter.inMessage()) {
                // Stopped mid-message: the rest is not coming; the next message starts afresh.
                raiseLinkError(works, "---------------------------------------TIMEOUT EXT IO 3\n");
                hunter.drop();
            } else {
                raiseLinkError(works, "---------------------------------------TIMEOUT EXT IO 1\n");
            }
            continue;
        }
        emptyPolls = 0;
        for (size_t i = 0; i < got.count; ++i) {
            const SerialEvent event = hunter.feed(bytes[i]);
            if (event == SerialEvent::None)
                continue;
            handleMessage(works, hunter, event);
            sendCarrierRequests(works, fd);
        }
    }
    return false;
}

} // namespace

int writeSerialPort(int fd, const void* data, size_t length, Works*)
{
    const size_t done = writeSerialAll(fd, data, length);
    if (done == length)
        return static_cast<int>(done);
    logSys(LOG_ERR, "Serial: write failed after %zu of %zu bytes (%s)", done, length, strerror(errno));
    return -1;
}

void sendCarrierRequests(Works* works, int fd)
{
    if (works->autoTuneMode & AT_ASK_RECEIVE) {
        writeSerialPort(fd, RECEIVE, sizeof RECEIVE - 1, works);
        logErr("SENT IXO RX;! (0x%x)\n", works->autoTuneMode.load());
        works->autoTuneMode &= ~AT_ASK_RECEIVE;
        works->autoTuneMode |= AT_RECEIVE_SENT;
    }
    if (works->autoTuneMode & AT_ASK_TUNE_CARRIER) {
        writeSerialPort(fd, TUNE_CARRIER, sizeof TUNE_CARRIER - 1, works);
        logErr("SENT IXO TX2;! (0x%x)\n", works->autoTuneMode.load());
        works->autoTuneMode &= ~AT_ASK_TUNE_CARRIER;
        works->autoTuneMode |= AT_TUNE_CARRIER_SENT;
    }
    const uint8_t hold = works->tuneHold;
    if (!(hold & HOLD_PENDING))
        return;
    if (!(hold & HOLD_CARRIER_ON)) {
        writeSerialPort(fd, RECEIVE, sizeof RECEIVE - 1, works);
        logErr("SENT IXO RX...\n");
        works->tuneHoldFrames = 30;
        works->tuneHold &= static_cast<uint8_t>(~HOLD_PENDING);
        return;
    }
    // A carrier for manual tuning waits until the amplifier has answered the "AN" it was sent.
    const bool anSent = hold & HOLD_AN_SENT;
    const bool anAnswered = hold & HOLD_AN_ANSWERED;
    if (anSent == anAnswered) {
        writeSerialPort(fd, TUNE_CARRIER, sizeof TUNE_CARRIER - 1, works);
        logErr("SENT IXO TX2...\n");
        works->tuneHold &= static_cast<uint8_t>(~HOLD_PENDING);
    }
}

void storeParameters(Works* works, int length, const uint8_t* payload)
{
    std::lock_guard<std::mutex> lock(*works->serMut);
    decodeParameterFrame(*works->serPar, {payload, static_cast<size_t>(std::max(length, 0))});
}

void storeFFT(Works* works, int length, const uint8_t* payload)
{
    std::array<float, 1024> values;
    spectrumValues({payload, static_cast<size_t>(std::max(length, 0))}, values);
    if (!works->spectrum)
        return;
    std::lock_guard<std::mutex> lock(*works->serMut);
    std::copy(values.begin(), values.end(), works->spectrum->trace);
}

void getParameters(SerParam* out, Works* works)
{
    std::lock_guard<std::mutex> lock(*works->serMut);
    *out = *works->serPar;
}

int writeTransceiverPort(Works* works, const void* data, size_t length)
{
    std::lock_guard<std::mutex> lock(portMutex);
    const int fd = works->serFD;
    // Descriptor 0 is the program's standard input, never a port.
    if (fd <= 0)
        return 1;
    return writeSerialAll(fd, data, length) == length ? 0 : -1;
}

void* Serial(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    char port[sizeof works->setup->SerPort];
    snprintf(port, sizeof port, "%s", works->setup->SerPort);
    // The port is opened, read until its device is gone, closed, and opened again every
    // REOPEN_MS while the link is on; one log line and one error 8 per outage.
    bool reported = false;
    while (linkOn(works)) {
        const int fd = openLink(works, port, reported);
        if (fd == -2)
            return nullptr;
        if (fd >= 0) {
            works->serFD = fd;
            const bool hungUp = readLoop(works, fd);
            closeLink(works, fd);
            if (!hungUp)
                break;
            logSys(LOG_ERR, "Serial: %s hung up, reopened every %d ms", port, REOPEN_MS);
            AddErrore(works, ERR_IXO_EXTIO);
            reported = true;
        }
        pauseWhileOn(works, REOPEN_MS);
    }
    logErr("---------------------------------------Serial EXIT %x\n",
           static_cast<unsigned>(setupSwitch(works->setup, &Orvosetup::enaser)));
    return nullptr;
}
