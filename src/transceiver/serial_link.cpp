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
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int ERR_IXO_EXTIO = 8;
constexpr int LINK_ERROR_HOLD_MS = 2000;
constexpr int EMPTY_POLL_LIMIT = 1500;  // 1 ms polls without a byte before the link error

// tuneHold bits: a carrier request pending, carrier wanted on, "AN" sent for it, "AN" answered.
constexpr uint8_t HOLD_PENDING = 0x01;
constexpr uint8_t HOLD_CARRIER_ON = 0x02;
constexpr uint8_t HOLD_AN_SENT = 0x10;
constexpr uint8_t HOLD_AN_ANSWERED = 0x20;

constexpr char RECEIVE[] = "RX;";
constexpr char TUNE_CARRIER[] = "TU120;TX2;";

bool linkOn(Works* works)
{
    return works->running && setupSwitch(works->setup, &Orvosetup::enaser) == '1';
}

// Error 8 in the transceiver's interface mode, at most once per hold-off.
void raiseLinkError(Works* works, const char* line)
{
    if (works->retryErrHold != 0)
        return;
    if (works->interfaceMode == 1) {
        AddErrore(works, ERR_IXO_EXTIO);
        works->retryErrHold = LINK_ERROR_HOLD_MS;
        logErr("%s", line);
    }
}

// 1 when bytes wait, 0 after timeoutMs without any, -1 when the port reports an error (the
// caller pauses, so a hung-up line is not polled in a tight loop).
int waitForBytes(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, timeoutMs);
    if (n <= 0)
        return n < 0 && errno != EINTR ? -1 : 0;
    if (p.revents & POLLIN)
        return 1;
    return -1;
}

int openLink(Works* works, const char* port)
{
    logSys(LOG_INFO, "Init Serial Port %s", port);
    const SerialSettings settings{IGNPAR, 0, CS8 | CREAD | CLOCAL, 0, 1, 0, B115200};
    const int fd = openSerialPort(port, settings);
    if (fd == SERIAL_OPEN_FAILED) {
        logSys(LOG_ERR, "Unable to open device %s", port);
        works->running = 0;
        return -1;
    }
    if (fd < 0) {
        logSys(LOG_ERR, "Unable to open device %s", port);
        char text[100];
        snprintf(text, sizeof text, "Serial: Unable to open device %s\n", port);
        logErr("%s", text);
        setFatalError(works, 3, text);
        return -1;
    }
    logSys(LOG_INFO, "OK works->serFD=%d (%s)", fd, port);
    logErr("------------------ OK works->serFD=%d (%s)\n", fd, port);
    return fd;
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

void readLoop(Works* works, int fd)
{
    FrameHunter hunter;
    std::array<uint8_t, 512> bytes;
    int emptyPolls = 0;
    while (linkOn(works)) {
        const int ready = waitForBytes(fd, 1);
        if (ready <= 0) {
            if (ready < 0)
                sleepMs(1);
            ++emptyPolls;
            if (!hunter.inMessage() && emptyPolls >= EMPTY_POLL_LIMIT) {
                raiseLinkError(works, "---------------------------------------TIMEOUT EXT IO 1\n");
                emptyPolls = 0;
            } else if (hunter.inMessage() && emptyPolls >= EMPTY_POLL_LIMIT) {
                raiseLinkError(works, "---------------------------------------TIMEOUT EXT IO 3\n");
            }
            continue;
        }
        const int waiting = serialBytesWaiting(fd);
        const size_t want = std::clamp<size_t>(waiting > 0 ? static_cast<size_t>(waiting) : 1, 1, bytes.size());
        const ssize_t n = read(fd, bytes.data(), want);
        if (n <= 0) {
            logSys(LOG_ERR, "error %d", static_cast<int>(n));
            raiseLinkError(works, "---------------------------------------TIMEOUT EXT IO 2\n");
            sleepMs(1);
            continue;
        }
        emptyPolls = 0;
        for (ssize_t i = 0; i < n; ++i) {
            const SerialEvent event = hunter.feed(bytes[static_cast<size_t>(i)]);
            if (event == SerialEvent::None)
                continue;
            handleMessage(works, hunter, event);
            sendCarrierRequests(works, fd);
        }
    }
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

void* Serial(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    char port[sizeof works->setup->SerPort];
    snprintf(port, sizeof port, "%s", works->setup->SerPort);
    const int fd = openLink(works, port);
    if (fd < 0)
        return nullptr;
    works->serFD = fd;
    readLoop(works, fd);
    // The port is closed here: a later start of the link opens it again.
    close(fd);
    works->serFD = -1;
    logErr("---------------------------------------Serial EXIT %x\n",
           static_cast<unsigned>(setupSwitch(works->setup, &Orvosetup::enaser)));
    return nullptr;
}
