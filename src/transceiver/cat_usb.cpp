#include "transceiver/cat_usb.h"

#include "amplifier/errors.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/serial.h"
#include "platform/shell.h"
#include "transceiver/peer_link.h"
#include "transceiver/usb_ids.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <libusb.h>
#include <mutex>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr size_t ANSWER_MAX = 200;
constexpr char IDENTITY_QUERY[] = "DT;";
constexpr char IDENTITY_ANSWER[] = "DT001";

// 1 while Cat owns an open port; Cat closes it when its relay ends. The port is closed,
// and the peer's data written to it, under exitMutex.
std::atomic<int> status_cat{0};
std::mutex exitMutex;

bool catOn(Works* works)
{
    return works->running && setupSwitch(works->setup, &Orvosetup::EnableCAT) == '1';
}

// The unit's name of a path found in the root ("/dev/DODUVOV0").
std::string unitPath(const std::string& path)
{
    const std::string root = rootPrefix();
    return !root.empty() && path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
}

bool applyPortSettings(int fd)
{
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_iflag = IGNPAR;
    tio.c_cflag = CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcflush(fd, TCIFLUSH);
    return cfsetispeed(&tio, B115200) == 0 && cfsetospeed(&tio, B115200) == 0 && tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Reads returning after at most 1 s, for the identity answer.
void readWithTimeout(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return;
    tio.c_lflag &= static_cast<tcflag_t>(~ICANON);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 10;
    tcsetattr(fd, TCSANOW, &tio);
}

// Asks one candidate for its identity; the open descriptor when it is the transceiver.
int probe(const std::string& path)
{
    const std::string name = unitPath(path);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        logSys(LOG_INFO, "Cannot open %s, error %d -%s", name.c_str(), errno, strerror(errno));
        return -1;
    }
    logSys(LOG_INFO, "Opened  %s", name.c_str());
    logErr("Opened %s---------------------------------------------\n", name.c_str());
    if (!applyPortSettings(fd)) {
        logSys(LOG_INFO, "Cannot set %s, error %d -%s", name.c_str(), errno, strerror(errno));
        close(fd);
        return -1;
    }
    logSys(LOG_INFO, "Set %s", name.c_str());
    logErr("set %s---------------------------------------------\n", name.c_str());
    logSys(LOG_INFO, "Send \"DT;\" %s", name.c_str());
    const bool sent = write(fd, IDENTITY_QUERY, sizeof IDENTITY_QUERY - 1) == sizeof IDENTITY_QUERY - 1;
    logSys(LOG_INFO, "Sent \"DT;\" %s", name.c_str());
    logErr("sent %s---------------------------------------------\n", name.c_str());
    readWithTimeout(fd);
    // The answer with its ';', so that the terminator is not taken for an answer of its own
    // once the port relays.
    char answer[8] = {};
    size_t count = 0;
    while (sent && count < sizeof IDENTITY_ANSWER) {
        if (read(fd, answer + count, 1) != 1)
            break;
        ++count;
        logSys(LOG_INFO, "Received %d \"%s\" %s", static_cast<int>(count), answer, name.c_str());
        if (answer[count - 1] == ';')
            break;
    }
    logSys(LOG_INFO, "Received \"%s\" %s", answer, name.c_str());
    if (std::strncmp(answer, IDENTITY_ANSWER, sizeof IDENTITY_ANSWER - 1) != 0) {
        close(fd);
        logSys(LOG_INFO, "Cannot connect IXO using %s", name.c_str());
        return -1;
    }
    logErr("received DT001; %s---------------------------------------------\n", name.c_str());
    return fd;
}

const char* catPortName(Works* works)
{
    return works->setup->CatPort;
}

void reportNoPort(Works* works)
{
    logSys(LOG_ERR, "Unable to open device %s", catPortName(works));
    logErr("CAT: Unable to open device %s\n", catPortName(works));
}

// Relays the transceiver's answers to the peer, one answer (up to its ';') at a time,
// until the switch drops or the port fails (its device gone, or ExitCAT from the server).
void relay(Works* works, int fd)
{
    unsigned char answer[ANSWER_MAX + 1];
    size_t fill = 0;
    while (catOn(works)) {
        unsigned char byte = 0;
        const SerialRead got = serialRead(fd, &byte, 1, 5);
        if (got.status == SerialStatus::HungUp) {
            logSys(LOG_ERR, "CAT: %s hung up", catPortName(works));
            return;
        }
        if (got.status == SerialStatus::Timeout)
            continue;
        answer[fill++] = byte;
        if (byte == ';') {
            answer[fill] = '\0';
            peerCat(works, answer, fill);
            fill = 0;
        } else if (fill >= ANSWER_MAX) {
            fill = 0;  // no ';' within the buffer: dropped
        }
    }
}

// 1 when the maker's transceiver is on the USB bus, 0 when not, -1 when the library failed.
int transceiverOnUsb()
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return -1;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    int found = count < 0 ? -1 : 0;
    for (ssize_t i = 0; i < count && found == 0; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0) {
            found = -1;
            break;
        }
        if (descriptor.idVendor == usbVendorId && descriptor.idProduct == pidIxo)
            found = 1;
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(context);
    return found;
}

} // namespace

namespace {

// The probe over every candidate, last first; the open descriptor of the one that answered.
int findCatPort(Works* works)
{
    logErr("CAT serial search...\n");
    const std::string pattern = mapPath("/dev/DODUVOV*");
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) != 0 || found.gl_pathc == 0) {
        globfree(&found);
        logErr("No CAT serial port found");
        return -1;
    }
    int fd = -1;
    std::string port;
    for (size_t i = found.gl_pathc; i-- > 0 && fd < 0;) {
        port = found.gl_pathv[i];
        fd = probe(port);
        if (fd < 0 && i > 0)
            sleepMs(2);
    }
    globfree(&found);
    if (fd < 0) {
        reportNoPort(works);
        return -1;
    }
    logErr("CAT serial found:  %s---------------------------------------------\n", unitPath(port).c_str());
    return fd;
}

} // namespace

int VerifyCAT(Works* works)
{
    const int fd = findCatPort(works);
    if (fd < 0)
        return -1;
    // Published under the lock the WebSocket thread writes the port under, so that its
    // write comes after the open that made the descriptor.
    std::lock_guard<std::mutex> lock(exitMutex);
    works->catFD = fd;
    return 0;
}

int writeCatPort(Works* works, const unsigned char* data, size_t length)
{
    std::lock_guard<std::mutex> lock(exitMutex);
    const int fd = works->catFD;
    // Descriptor 0 is the program's standard input, never a port (a closed CAT port is 0).
    if (fd <= 0)
        return 1;
    return writeSerialAll(fd, data, length) == length ? 0 : -1;
}

void ExitCAT(Works* works)
{
    std::lock_guard<std::mutex> lock(exitMutex);
    // The relay still polls the port it owns (status_cat): it sees the switch drop and
    // closes the port itself, so its descriptor is never closed under it and reused.
    works->catFD = 0;
    works->remoteThreadExited = 1;
    setSetupSwitch(works->setup, &Orvosetup::EnableCAT, '0');
    AddErrore(works, ERR_REMOTE_CAT);
}

namespace {

// The relay has ended: its port is closed, no longer written by the server.
void closeRelayPort(Works* works, int fd)
{
    std::lock_guard<std::mutex> lock(exitMutex);
    if (status_cat.exchange(0) == 1)
        close(fd);
    works->catFD = 0;
}

} // namespace

void* Cat(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    status_cat = 0;
    for (int waited = 0; waited < 3000 && catOn(works); waited += 50)
        sleepMs(50);
    if (!works->running)
        return nullptr;
    if (!catOn(works) || VerifyCAT(works) != 0) {
        reportNoPort(works);
        ExitCAT(works);
        return nullptr;
    }
    const int fd = works->catFD;
    logSys(LOG_INFO, "OK works->catFD=%d (%s)", fd, catPortName(works));
    status_cat = 1;
    relay(works, fd);
    closeRelayPort(works, fd);
    // The program stopping leaves CAT switched on and raises nothing (that is for a failing
    // port, so that the remote threads are started again).
    if (works->running)
        ExitCAT(works);
    return nullptr;
}

int Find_Remote_Settings(Works* works)
{
    if (transceiverOnUsb() != 1)
        return 1;
    // The probe's port is not kept (Cat, when it runs, owns catFD and opens its own).
    const int fd = findCatPort(works);
    if (fd < 0) {
        logErr("---CAT: Unable to open device %s\n", catPortName(works));
        return 2;
    }
    close(fd);
    if (peerSoundInterfaces(works) == 0)
        return 3;
    return 0;
}
