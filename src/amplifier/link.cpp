#include "amplifier/link.h"

#include "amplifier/crc8.h"
#include "amplifier/errors.h"
#include "amplifier/replies.h"
#include "amplifier/thresholds.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

Relaxed<int32_t> linearProcessStatus{1};
int32_t counterrortimeout = 0;

namespace {

constexpr int REPLY_SILENCE_MS = 1500;  // silence after a write that counts as no reply
constexpr int RECEIVE_SIZE = 500;
constexpr int RUNNING_TEST_MS = 50;     // longest wait before running is tested again

bool isCommandNumber(int number)
{
    return number >= 0 && number != LINK_WAIT_REPLY && number != LINK_DECODE && number != LINK_IDLE
        && number <= 41;
}

// Reply bytes read from the port and not yet handled. The link takes them one at a time;
// reading whatever is waiting in one call keeps the system calls per reply low.
struct ReceiveQueue {
    char bytes[64];
    int length = 0;
    int next = 0;
};

// The board's replies to a keyword have a fixed length. The link remembers the last one it
// received for each keyword and, once a reply's keyword is in, sleeps while the rest of it
// is still on the line instead of waking for every byte. Bytes are never read early or
// lost by this; a reply that turns out shorter is read a few milliseconds later at most.
class ReplyLengths {
public:
    int expected(const char* reply) const
    {
        int i = index(reply);
        return i < 0 ? 0 : lengths_[i];
    }
    void learn(const char* reply, int length)
    {
        int i = index(reply);
        if (i >= 0)
            lengths_[i] = static_cast<uint16_t>(length);
    }

private:
    static int index(const char* reply)
    {
        if (!isupper(static_cast<unsigned char>(reply[0])) || !isupper(static_cast<unsigned char>(reply[1])))
            return -1;
        return (reply[0] - 'A') * 26 + (reply[1] - 'A');
    }
    std::array<uint16_t, 26 * 26> lengths_{};
};

SerialSettings linkSettings()
{
    return {IGNPAR, 0, B115200 | CS8 | CREAD | CLOCAL | HUPCL, 0, 1, 5, B115200};
}

constexpr int64_t BYTE_TIME_US = 87;  // 10 bits at 115200 baud

// Called with the first four bytes of a reply in (CRC digits and keyword).
void sleepWhileReplyOnLine(int fd, const ReceiveQueue& queue, const ReplyLengths& lengths, const char* received,
                           int rxIndex)
{
    int remaining = lengths.expected(received + 2) - rxIndex;
    int arrived = (queue.length - queue.next) + std::max(0, serialBytesWaiting(fd));
    // Wake two bytes early so the last byte is taken as soon as it arrives.
    int onLine = remaining - arrived - 2;
    if (onLine > 1)
        std::this_thread::sleep_for(std::chrono::microseconds(onLine * BYTE_TIME_US));
}

constexpr int LINK_HUNG_UP = -2;
constexpr int REOPEN_MS = 2000;  // a vanished port is tried again this often

// Takes the next reply byte. Returns 1 with a byte, 0 when none came within the slice (the
// silence is added to counterrortimeout, in milliseconds), LINK_HUNG_UP when the port's
// device is gone.
int readReplyByte(Works* works, ReceiveQueue& queue, char* byte)
{
    if (queue.next < queue.length) {
        *byte = queue.bytes[queue.next++];
        return 1;
    }
    int budget = REPLY_SILENCE_MS - counterrortimeout;
    int slice = std::clamp(budget, 1, RUNNING_TEST_MS);
    int64_t start = monoMillis();
    const SerialRead got = serialRead(works->linFD, queue.bytes, sizeof queue.bytes, slice);
    if (got.status == SerialStatus::HungUp)
        return LINK_HUNG_UP;
    if (got.status == SerialStatus::Timeout) {
        counterrortimeout += static_cast<int32_t>(std::max<int64_t>(1, monoMillis() - start));
        return 0;
    }
    queue.length = static_cast<int>(got.count);
    queue.next = 1;
    *byte = queue.bytes[0];
    return 1;
}

// The port's device is gone: closed, the link error raised, one log line for the outage.
void portHungUp(Works* works, ReceiveQueue& queue)
{
    logSys(LOG_ERR, "Linear: %s hung up, reopened every %d ms", works->setup->LinPort, REOPEN_MS);
    logErr("Linear: %s hung up\n", works->setup->LinPort);
    close(works->linFD);
    works->linFD = -1;
    queue = ReceiveQueue{};
    AddErrore(works, ERR_COMM);
}

// Opens the port again after a hang-up, quietly until it is back.
void reopenPort(Works* works)
{
    const SerialSettings settings = linkSettings();
    const int fd = openSerialPort(works->setup->LinPort, settings);
    if (fd < 0)
        return;
    works->linFD = fd;
    logSys(LOG_INFO, "OK works->linFD=%d (%s)", fd, works->setup->LinPort);
    linearProcessStatus = 1;
}

} // namespace

int IncPNTIn_CMDLinear(int number, Works* works)
{
    if (!isCommandNumber(number)) {
        logErr("Linear: command %d refused, not a command\n", number);
        return -1;
    }
    std::lock_guard<std::mutex> lock(works->cmdQueueMutex);
    uint32_t next = (works->cmdQueueIn + 1) % CMD_QUEUE_SIZE;
    if (next == works->cmdQueueOut) {
        // A full queue refuses the new command; what is already queued is kept.
        works->cmdRefused++;
        logErr("Linear: command queue full, command %d refused\n", number);
        logSys(LOG_ERR, "Linear: command queue full, command %d refused", number);
        return -1;
    }
    works->cmdQueue[works->cmdQueueIn] = static_cast<uint32_t>(number);
    works->cmdQueueIn = next;
    return number;
}

int takeQueuedCmd(Works* works)
{
    std::lock_guard<std::mutex> lock(works->cmdQueueMutex);
    if (works->cmdQueueIn == works->cmdQueueOut)
        return -1;
    int number = static_cast<int>(works->cmdQueue[works->cmdQueueOut]);
    works->cmdQueue[works->cmdQueueOut] = 0;
    works->cmdQueueOut = (works->cmdQueueOut + 1) % CMD_QUEUE_SIZE;
    return number;
}

bool cmdQueueEmpty(Works* works)
{
    std::lock_guard<std::mutex> lock(works->cmdQueueMutex);
    return works->cmdQueueIn == works->cmdQueueOut;
}

void InitMicroCmd(Works* works)
{
    logErr("Init CRT ... \n");
    for (int number : {0, 36, 37, 38, 17})
        IncPNTIn_CMDLinear(number, works);
    SearchCambioSoglie_TS(works);
    works->fanPercent = 100;
    works->fanPercentOld = 100;
    for (int number : {23, 21, 7, 12, 11, 24, 33, 34, 13, 32})
        IncPNTIn_CMDLinear(number, works);
}

void writeLinearPort(int fd, const char* text, size_t length, Works* works)
{
    (void)works;
    char frame[80];
    uint8_t crc = Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>(text), length);
    int header = snprintf(frame, sizeof frame, "%02x", crc);
    size_t total = static_cast<size_t>(header);
    size_t body = std::min(length, sizeof frame - total);
    memcpy(frame + total, text, body);
    total += body;
    size_t done = 0;
    while (done < total) {
        ssize_t n = write(fd, frame + done, total - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    counterrortimeout = 0;
}

void LastCmdSent(Works* works, char letter1, char letter2, int number)
{
    works->lastCmdLetters[0] = letter1;
    works->lastCmdLetters[1] = letter2;
    works->lastCmd = static_cast<uint32_t>(number);
}

int OpenLinear(Works* works)
{
    const char* path = works->setup->LinPort;
    logSys(LOG_INFO, "Init Linear Port %s", path);
    int fd = openSerialPort(path, linkSettings());
    if (fd < 0) {
        // The port is missing or refuses the settings: shown full screen, the link waits.
        const char* what = fd == SERIAL_OPEN_FAILED ? "Unable to open device" : "Unable to set comm port";
        logSys(LOG_ERR, "%s %s", what, path);
        logErr("%s %s\n", what, path);
        char text[100];
        snprintf(text, sizeof text, "Linear: %s %s", what, path);
        works->linFD = -1;
        setFatalError(works, 1, text);
        return -1;
    }
    works->linFD = fd;
    logErr("OK works->linFD=%d (%s) stato:%d\n", fd, path, linearProcessStatus.load());
    logSys(LOG_INFO, "OK works->linFD=%d (%s)", fd, path);
    return 0;
}

void GestRetrayCMD(Works* works)
{
    works->retryTotal++;
    if (works->retryCount > 2) {
        char detail[16];
        snprintf(detail, sizeof detail, "Err %c%c", works->lastCmdLetters[0], works->lastCmdLetters[1]);
        setErrorDetail(works, ERR_COMM, detail);
        if (claimErrorHold(works, 2000))
            AddErrore(works, ERR_COMM);
        logErr("---------------------------------------STOP RETRAY!! %c%c (%d, %d) Restart da ST (Timer: %i)\n",
               works->lastCmdLetters[0], works->lastCmdLetters[1], works->retryTotal.load(), works->retryCount.load(),
               works->retryErrHold.load());
        works->retryStops++;
        linearProcessStatus = 1;
        works->retryCount = 0;
    } else {
        works->retryCount++;
        linearProcessStatus = static_cast<int32_t>(works->lastCmd);
        logErr("--------------------------------------- ERROR LINEAR: RETRAY %c%c (%d , %d)\n",
               works->lastCmdLetters[0], works->lastCmdLetters[1], works->retryTotal.load(), works->retryCount.load());
    }
}

void NextCmdPriority(Works* works, int state)
{
    works->retryCount = 0;
    if (works->cmdBurst) {
        int number = takeQueuedCmd(works);
        if (number >= 0) {
            linearProcessStatus = number;
            logErr("cmd ext: %d\n", number);
            return;
        }
        works->cmdBurst = 0;
        linearProcessStatus = state;
        if (works->errResend == 1) {
            logErr(">>> ERRORI: Send All CMD for Error\n");
            works->errResend = 2;
        }
        return;
    }
    linearProcessStatus = state;
}

void* Linear(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    char received[RECEIVE_SIZE + 1];
    int rxIndex = 0;
    ReceiveQueue queue;
    ReplyLengths replyLengths;
    linearProcessStatus = 1;
    const bool opened = OpenLinear(works) == 0;
    int64_t nextReopen = 0;
    while (works->running) {
        if (works->linFD < 0) {
            // No port: nothing to write to. A port that was open and hung up is tried again
            // every REOPEN_MS; one that never opened waits quietly under its error screen.
            if (opened && monoMillis() >= nextReopen) {
                reopenPort(works);
                nextReopen = monoMillis() + REOPEN_MS;
            }
            if (works->linFD < 0)
                sleepMs(RUNNING_TEST_MS);
            continue;
        }
        switch (linearProcessStatus) {
        case LINK_WAIT_REPLY: {
            char byte;
            int got = readReplyByte(works, queue, &byte);
            if (got == 0) {
                if (counterrortimeout > REPLY_SILENCE_MS - 1)
                    GestRetrayCMD(works);
                break;
            }
            if (got == LINK_HUNG_UP) {
                portHungUp(works, queue);
                rxIndex = 0;
                nextReopen = monoMillis() + REOPEN_MS;
                break;
            }
            if (rxIndex > RECEIVE_SIZE - 1) {
                rxIndex = 0;
                logErr("<<<<<<<<<<<<<<<<<<<<ERROR COUNTER LINEAR (CounterLinear)\n");
            }
            received[rxIndex++] = byte;
            if (byte != ';') {
                if (rxIndex == 4)
                    sleepWhileReplyOnLine(works->linFD, queue, replyLengths, received, rxIndex);
                break;
            }
            received[rxIndex] = '\0';
            if (rxIndex >= 4)
                replyLengths.learn(received + 2, rxIndex);
            char computed[3];
            bool match = false;
            if (rxIndex > 2) {
                uint8_t crc = Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>(received + 2),
                                                  static_cast<size_t>(rxIndex - 2));
                snprintf(computed, sizeof computed, "%02X", crc);
                match = computed[0] == received[0] && computed[1] == received[1];
            } else {
                snprintf(computed, sizeof computed, "--");
            }
            if (!match) {
                // Reported, then decoded all the same. The decoder chooses the next command:
                // taking one from the queue here as well would drop it during a burst.
                logErr("**** CHK ERROR!! %s %s\n", computed, received);
                works->retryCount = 0;
                sleepMs(20);
            }
            linearProcessStatus = LINK_DECODE;
            break;
        }
        case LINK_DECODE:
            if (rxIndex >= 2)
                DecodeCatCmd(works, received + 2, rxIndex);
            if (linearProcessStatus == LINK_DECODE) {
                // Too short to name a command: count it as a failed attempt, never stay here.
                logErr("Linear: short reply %.*s\n", rxIndex, received);
                GestRetrayCMD(works);
            }
            rxIndex = 0;
            break;
        case LINK_IDLE:
            sleepMs(1000);
            break;
        default:
            if (isCommandNumber(linearProcessStatus))
                sendLinearCommand(works, linearProcessStatus);
            else
                linearProcessStatus = 1;
            break;
        }
    }
    return nullptr;
}
