#include "transceiver/cat_serial.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial.h"

#include <cstdio>
#include <poll.h>
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

int openFollower(Works* works, const char* port)
{
    logSys(LOG_INFO, "Init CATSerial Port %s", port);
    const SerialSettings settings{IGNPAR, 0, CS8 | CSTOPB | CREAD | CLOCAL, 0, 1, 0, B38400};
    const int fd = openSerialPort(port, settings);
    char text[100];
    if (fd == SERIAL_OPEN_FAILED) {
        logSys(LOG_ERR, "Unable to open device %s", port);
        snprintf(text, sizeof text, "CAT: Unable to open device %s", port);
        setFatalError(works, 2, text);
        return -1;
    }
    if (fd < 0) {
        logSys(LOG_ERR, "Unable to set comm port %s", port);
        snprintf(text, sizeof text, "CAT: Unable to set comm port %s", port);
        setFatalError(works, 2, text);
        return -1;
    }
    logSys(LOG_INFO, "OK works->catSerFD=%d (%s)", fd, port);
    logErr("---------------- OK works->catSerFD=%d (%s)\n", fd, port);
    return fd;
}

void pollLoop(Works* works, int fd)
{
    static const uint8_t request[REPLY_BYTES] = {0, 0, 0, 0, READ_FREQUENCY};
    uint8_t reply[REPLY_BYTES] = {};
    int fill = 0;
    lastCommandSent = 0;
    catProcessStatus = CAT_SEND;
    while (followerOn(works)) {
        switch (catProcessStatus) {
        case CAT_SEND:
            writeSerialCatPort(fd, request, sizeof request, works);
            lastCommandSent = READ_FREQUENCY;
            catProcessStatus = CAT_COLLECT;
            break;
        case CAT_COLLECT: {
            // Waiting for a byte up to 1 ms is one poll of the port.
            pollfd p{fd, POLLIN, 0};
            const int ready = poll(&p, 1, 1);
            if (ready <= 0 || !(p.revents & POLLIN)) {
                if (ready > 0)
                    sleepMs(1);  // an error on the line: counted as an empty poll, not spun on
                ++counterimeoutCAT;
                if (counterimeoutCAT > EMPTY_POLL_LIMIT) {
                    logErr("<<<<<<<<<<<<<<<<<<<<TIMEOUT SERIAL CAT!!!!\n");
                    fill = 0;
                    catProcessStatus = CAT_SEND;
                    pauseWhileOn(works, 1000);
                }
                break;
            }
            uint8_t byte = 0;
            const ssize_t n = read(fd, &byte, 1);
            if (n != 1) {
                logSys(LOG_ERR, "timeout %d\n", static_cast<int>(n));
                sleepMs(20);
                break;
            }
            reply[fill++] = byte;
            if (fill == REPLY_BYTES) {
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
    const int fd = openFollower(works, port);
    if (fd < 0)
        return nullptr;
    works->catSerFD = fd;
    pollLoop(works, fd);
    // Closed here: the next start of the follower opens the port again.
    close(fd);
    works->catSerFD = -1;
    return nullptr;
}
