#include "transceiver/cat_serial.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

enum CatState { CAT_DECODE = 1, CAT_COLLECT = 2, CAT_SEND = 3 };
constexpr uint8_t READ_FREQUENCY = 3;
constexpr int REPLY_BYTES = 5;
constexpr int EMPTY_POLL_LIMIT = 1499;

// The poller's state; only the CatSerial thread touches it (one follower at a time).
int catProcessStatus = CAT_SEND;
int lastCommandSent = 0;
int counterimeoutCAT = 0;

constexpr int REOPEN_MS = 2000;  // a missing or vanished port is tried again this often

bool followerOn(Works* works)
{
    return works->running && setupSwitch(works->setup, &Orvosetup::enaCatSer) == '1';
}

// A pause that ends early when the follower is switched off.
void pauseWhileOn(Works* works, int ms)
{
    for (int waited = 0; waited < ms && followerOn(works); waited += 20)
        sleepMs(20);
}

// Opens and sets up the port. A port that cannot be opened is the follower's error screen
// (fatalError 2), shown and logged once per outage (`reported`); the caller tries again.
// A port that refuses the line settings ends the follower: -2.
int openFollower(Works* works, const char* port, bool& reported)
{
    if (!reported)
        logSys(LOG_INFO, "Init CATSerial Port %s", port);
    const SerialSettings settings{IGNPAR, 0, CS8 | CSTOPB | CREAD | CLOCAL, 0, 1, 0, B38400};
    const int fd = openSerialPort(port, settings);
    char text[100];
    if (fd == SERIAL_OPEN_FAILED) {
        if (!reported) {
            logSys(LOG_ERR, "Unable to open device %s", port);
            snprintf(text, sizeof text, "CAT: Unable to open device %s", port);
            setFatalError(works, 2, text);
            reported = true;
        }
        return -1;
    }
    if (fd < 0) {
        logSys(LOG_ERR, "Unable to set comm port %s", port);
        snprintf(text, sizeof text, "CAT: Unable to set comm port %s", port);
        setFatalError(works, 2, text);
        return -2;
    }
    reported = false;
    logSys(LOG_INFO, "OK works->catSerFD=%d (%s)", fd, port);
    logErr("---------------- OK works->catSerFD=%d (%s)\n", fd, port);
    return fd;
}

// Polls the transceiver until the switch drops (false) or the device is gone (true).
bool pollLoop(Works* works, int fd)
{
    static const uint8_t request[REPLY_BYTES] = {0, 0, 0, 0, READ_FREQUENCY};
    uint8_t reply[REPLY_BYTES] = {};
    int fill = 0;
    lastCommandSent = 0;
    catProcessStatus = CAT_SEND;
    while (followerOn(works)) {
        switch (catProcessStatus) {
        case CAT_SEND:
            // A reply that came after its time-out is still waiting: dropped, so that it
            // cannot be read as the start of this request's reply.
            tcflush(fd, TCIFLUSH);
            writeSerialCatPort(fd, request, sizeof request, works);
            lastCommandSent = READ_FREQUENCY;
            catProcessStatus = CAT_COLLECT;
            break;
        case CAT_COLLECT: {
            // Waiting for a byte up to 1 ms is one poll of the port.
            const SerialRead got = serialRead(fd, reply + fill, 1, 1);
            if (got.status == SerialStatus::HungUp)
                return true;
            if (got.status == SerialStatus::Timeout) {
                ++counterimeoutCAT;
                if (counterimeoutCAT > EMPTY_POLL_LIMIT) {
                    logErr("<<<<<<<<<<<<<<<<<<<<TIMEOUT SERIAL CAT!!!!\n");
                    fill = 0;
                    catProcessStatus = CAT_SEND;
                    pauseWhileOn(works, 1000);
                }
                break;
            }
            if (++fill == REPLY_BYTES) {
                fill = 0;
                catProcessStatus = CAT_DECODE;
            }
            break;
        }
        case CAT_DECODE:
        default:
            DecodeCatSerialCmd(works, reply, REPLY_BYTES);
            fill = 0;
            catProcessStatus = CAT_SEND;
            break;
        }
    }
    return false;
}

} // namespace

int VerifyByteFreq(uint8_t byte)
{
    return (byte >> 4) > 9 || (byte & 0x0F) > 9 ? 1 : 0;
}

bool decodeBcdFrequency(const uint8_t bytes[4], uint32_t& hertz)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        if (VerifyByteFreq(bytes[i]))
            return false;
        value = value * 100 + (bytes[i] >> 4) * 10 + (bytes[i] & 0x0F);
    }
    hertz = value * 10;
    return true;
}

void DecodeCatSerialCmd(Works* works, const uint8_t* reply, int)
{
    if (lastCommandSent == READ_FREQUENCY) {
        uint32_t hertz = 0;
        if (decodeBcdFrequency(reply, hertz))
            works->catSerFreq = hertz;
        else
            logErr("CAT FT817 freq not decoded :  %02x %02x %02x %02x %02x\n", reply[0], reply[1], reply[2],
                   reply[3], reply[4]);
    }
    sleepMs(20);
    lastCommandSent = 0;
}

int writeSerialCatPort(int fd, const uint8_t* data, size_t length, Works*)
{
    // A port that keeps refusing: this request is dropped; the reply timeout sends the next
    // one after its pause.
    const size_t done = writeSerialAll(fd, data, length);
    if (done < length)
        logSys(LOG_ERR, "CAT: write failed after %zu of %zu bytes", done, length);
    counterimeoutCAT = 0;
    return done == length ? static_cast<int>(done) : -1;
}

void* CatSerial(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    char port[sizeof works->setup->CatSerialPort];
    snprintf(port, sizeof port, "%s", works->setup->CatSerialPort);
    // The port is opened, polled until its device is gone, closed, and opened again every
    // REOPEN_MS while the follower is on; one log line and one error screen per outage.
    bool reported = false;
    while (followerOn(works)) {
        const int fd = openFollower(works, port, reported);
        if (fd == -2)
            return nullptr;
        if (fd >= 0) {
            works->catSerFD = fd;
            const bool hungUp = pollLoop(works, fd);
            close(fd);
            works->catSerFD = -1;
            if (!hungUp)
                break;
            char text[100];
            snprintf(text, sizeof text, "CAT: Lost device %s", port);
            logSys(LOG_ERR, "%s, reopened every %d ms", text, REOPEN_MS);
            setFatalError(works, 2, text);
            reported = true;
        }
        pauseWhileOn(works, REOPEN_MS);
    }
    return nullptr;
}
