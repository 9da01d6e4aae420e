// A stand-in for libusb-1.0 on the simulated unit: the part of its interface the controller
// uses, serving one simulated receiver (usb_receiver/receiver_model.h) from the settings
// file <AMPCTL_ROOT>/sim/usb_receiver. Built as libusb-1.0.so.0 into its own folder, which
// the simulated unit puts first on the controller's library path; the controller's code is
// the same as on the unit.
//
// Bulk transfers complete at the pace of the sample stream (4096 samples of a 32768-byte
// transfer take 21.3 ms at 192 kHz), in the order they were submitted, inside
// libusb_handle_events*; their callbacks run there, on the caller's thread. The receiver
// streams only once its FIFO was initialised and then enabled (after any stop): before
// that, transfers time out as on the unit. Every device opened, driver detached, interface
// claimed and control request is logged to <root>/sim/usb.log, with a "stream" line at the
// first transfer of each start of the stream.
#include "usb_receiver/receiver_model.h"

#include <libusb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    libusb_transfer* transfer;
    Clock::time_point due;
    libusb_transfer_status forced;  // a status fixed at submit (timeout), or COMPLETED
    bool cancelled;
};

std::string rootDir()
{
    const char* root = std::getenv("AMPCTL_ROOT");
    return root ? root : "";
}

} // namespace

struct libusb_context {
    std::mutex mutex;
    sim::UsbReceiverSettings settings;
    bool haveFile = false;
    struct timespec stamp {};
    ino_t inode = 0;
    Clock::time_point lastCheck{};
    sim::IqSignal signal;
    std::deque<Pending> queue;
    Clock::time_point streamEnd{};
    bool fifoReady = false;        // initialised since the last stop
    bool streaming = false;        // enabled after the initialisation
    bool streamLogged = false;     // the "stream" line of this start is written
    bool foreignDriver = true;     // the other gadget's kernel driver is still bound

    // Reads the settings file again when it was replaced (checked at most every 20 ms).
    void refreshLocked(bool force)
    {
        const auto now = Clock::now();
        if (!force && now - lastCheck < std::chrono::milliseconds(20))
            return;
        lastCheck = now;
        const std::string path = sim::receiverSettingsPath(rootDir());
        struct stat st {};
        if (rootDir().empty() || ::stat(path.c_str(), &st) != 0) {
            haveFile = false;
            return;
        }
        if (haveFile && st.st_ino == inode && st.st_mtim.tv_sec == stamp.tv_sec && st.st_mtim.tv_nsec == stamp.tv_nsec)
            return;
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        settings = sim::parseReceiverSettings(text.str());
        signal.restart();
        haveFile = true;
        inode = st.st_ino;
        stamp = st.st_mtim;
    }
    bool onBus() const { return haveFile && settings.present && !settings.unplugged; }
    bool foreignOnBus() const { return haveFile && settings.foreignProduct != 0; }
};

struct libusb_device {
    libusb_context* ctx;
    int refs;
    uint16_t vendor;
    uint16_t product;
    uint8_t bus;
    bool foreign;  // the other gadget of the receiver's vendor
};

struct libusb_device_handle {
    libusb_device* dev;
};

namespace {

void logRequest(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logRequest(const char* format, ...)
{
    const std::string root = rootDir();
    if (root.empty())
        return;
    FILE* f = std::fopen((root + "/sim/usb.log").c_str(), "ae");
    if (!f)
        return;
    va_list ap;
    va_start(ap, format);
    std::vfprintf(f, format, ap);
    va_end(ap);
    std::fputc('\n', f);
    std::fclose(f);
}

libusb_context* ctxOf(libusb_transfer* t)
{
    return t && t->dev_handle ? t->dev_handle->dev->ctx : nullptr;
}

// The answer of a vendor request; the length answered or a libusb error.
int answer(libusb_context* ctx, uint8_t request, uint16_t value, uint16_t index, unsigned char* data, uint16_t length)
{
    const sim::UsbReceiverSettings& s = ctx->settings;
    auto give = [&](const void* bytes, size_t n) {
        n = std::min<size_t>(n, length);
        std::memcpy(data, bytes, n);
        return static_cast<int>(n);
    };
    if (request == 0xFF && value == 0 && index == 0) {
        const unsigned char v[2] = {1, 4};
        return give(v, 2);
    }
    if (request == 0xA2 && index == 0x0151) {
        const unsigned char hw[2] = {2, 1};
        char serial[32] = {};
        std::snprintf(serial, sizeof serial, "SIM%04X-000042", s.product);
        switch (value) {
        case 0x404C:
            return give(hw, 2);
        case 0x4000:
            return give(serial, sizeof serial);
        case 0x4028:
            return give(&s.globalOffset, 4);
        case 0x402C:
            return give(&s.lpOffset, 4);
        case 0x4030:
            return give(&s.attOffset, 4);
        default:
            return LIBUSB_ERROR_PIPE;
        }
    }
    if (request == 0xE1 && value == 0 && index == 0xE800) {
        ctx->fifoReady = true;
        ctx->streaming = false;
        const unsigned char v = 0x00;
        return give(&v, 1);
    }
    if (request == 0xE1 && value == 0 && index == 0xE900) {
        ctx->fifoReady = false;
        ctx->streaming = false;
        const unsigned char v = 0x00;
        return give(&v, 1);
    }
    if (request == 0xE1 && value == 1 && index == 0xE900) {
        // Streaming starts only from an initialised FIFO; the answer tells which.
        ctx->streaming = ctx->fifoReady;
        ctx->streamLogged = false;
        const unsigned char v = ctx->streaming ? 0xE9 : 0x00;
        return give(&v, 1);
    }
    return LIBUSB_ERROR_PIPE;
}

void completeOne(libusb_context* ctx, Pending p)
{
    libusb_transfer* t = p.transfer;
    libusb_transfer_status status = p.forced;
    int length = 0;
    {
        std::lock_guard lock(ctx->mutex);
        const std::string& fault = ctx->settings.fault;
        if (p.cancelled)
            status = LIBUSB_TRANSFER_CANCELLED;
        else if (!ctx->onBus())
            status = LIBUSB_TRANSFER_NO_DEVICE;
        else if (status == LIBUSB_TRANSFER_COMPLETED && fault != "none") {
            status = fault == "error"      ? LIBUSB_TRANSFER_ERROR
                : fault == "stall"         ? LIBUSB_TRANSFER_STALL
                : fault == "overflow"      ? LIBUSB_TRANSFER_OVERFLOW
                : fault == "nodevice"      ? LIBUSB_TRANSFER_NO_DEVICE
                                           : LIBUSB_TRANSFER_TIMED_OUT;
        }
        if (status == LIBUSB_TRANSFER_COMPLETED) {
            length = t->length / 8 * 8;
            ctx->signal.fill(ctx->settings, t->buffer, static_cast<size_t>(length / 8));
        }
    }
    t->status = status;
    t->actual_length = length;
    if (t->callback)
        t->callback(t);
}

} // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** ctx)
{
    if (!ctx)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    *ctx = new libusb_context;
    std::lock_guard lock((*ctx)->mutex);
    (*ctx)->refreshLocked(true);
    return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context* ctx)
{
    delete ctx;
}

int LIBUSB_CALL libusb_set_option(libusb_context*, enum libusb_option, ...)
{
    return 0;
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* ctx, libusb_device*** list)
{
    if (!ctx || !list)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::lock_guard lock(ctx->mutex);
    ctx->refreshLocked(true);
    // The root hub always, the other gadget of the vendor when there is one, the receiver
    // when it is on the bus.
    std::vector<libusb_device*> found{new libusb_device{ctx, 1, 0x1d6b, 0x0002, 1, false}};
    if (ctx->foreignOnBus())
        found.push_back(new libusb_device{ctx, 1, sim::kReceiverVendor, ctx->settings.foreignProduct, 1, true});
    if (ctx->onBus())
        found.push_back(new libusb_device{ctx, 1, sim::kReceiverVendor, ctx->settings.product, 1, false});
    *list = static_cast<libusb_device**>(std::calloc(found.size() + 1, sizeof(libusb_device*)));
    if (!*list) {
        for (libusb_device* d : found)
            delete d;
        return LIBUSB_ERROR_NO_MEM;
    }
    std::copy(found.begin(), found.end(), *list);
    return static_cast<ssize_t>(found.size());
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unrefDevices)
{
    if (!list)
        return;
    for (libusb_device** d = list; *d; ++d)
        if (unrefDevices && --(*d)->refs == 0)
            delete *d;
    std::free(list);
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc)
{
    *desc = {};
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0200;
    desc->bMaxPacketSize0 = 64;
    desc->idVendor = dev->vendor;
    desc->idProduct = dev->product;
    desc->bNumConfigurations = 1;
    return 0;
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* dev)
{
    return dev->bus;
}

int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** handle)
{
    std::lock_guard lock(dev->ctx->mutex);
    if (dev->vendor != sim::kReceiverVendor)
        return LIBUSB_ERROR_ACCESS;
    if (!(dev->foreign ? dev->ctx->foreignOnBus() : dev->ctx->onBus()))
        return LIBUSB_ERROR_NO_DEVICE;
    ++dev->refs;
    *handle = new libusb_device_handle{dev};
    logRequest("open %04x:%04x", dev->vendor, dev->product);
    return 0;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle)
{
    if (!handle)
        return;
    logRequest("close");
    if (--handle->dev->refs == 0)
        delete handle->dev;
    delete handle;
}

// Only the other gadget has a kernel driver (on interface 0).
int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle* handle, int interface)
{
    std::lock_guard lock(handle->dev->ctx->mutex);
    return handle->dev->foreign && interface == 0 && handle->dev->ctx->foreignDriver ? 1 : 0;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle* handle, int interface)
{
    libusb_device* dev = handle->dev;
    std::lock_guard lock(dev->ctx->mutex);
    logRequest("detach %04x:%04x %d", dev->vendor, dev->product, interface);
    if (!dev->foreign || interface != 0 || !dev->ctx->foreignDriver)
        return LIBUSB_ERROR_NOT_FOUND;
    dev->ctx->foreignDriver = false;
    return 0;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int interface)
{
    libusb_device* dev = handle->dev;
    std::lock_guard lock(dev->ctx->mutex);
    if (!(dev->foreign ? dev->ctx->foreignOnBus() : dev->ctx->onBus()))
        return LIBUSB_ERROR_NO_DEVICE;
    logRequest("claim %04x:%04x %d", dev->vendor, dev->product, interface);
    if (dev->foreign && dev->ctx->foreignDriver)
        return LIBUSB_ERROR_BUSY;
    return interface == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle*, int interface)
{
    logRequest("release %d", interface);
    return 0;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request,
                                        uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                                        unsigned int)
{
    libusb_context* ctx = handle->dev->ctx;
    std::lock_guard lock(ctx->mutex);
    ctx->refreshLocked(true);
    int r = LIBUSB_ERROR_NO_DEVICE;
    if (handle->dev->foreign)
        r = LIBUSB_ERROR_PIPE;
    else if (ctx->onBus())
        r = requestType == 0xC0 ? answer(ctx, request, value, index, data, length) : LIBUSB_ERROR_PIPE;
    logRequest("control %02X %02X %04X %04X %u -> %d", requestType, request, value, index, length, r);
    return r;
}

struct libusb_transfer* LIBUSB_CALL libusb_alloc_transfer(int isoPackets)
{
    if (isoPackets < 0)
        return nullptr;
    const size_t size = sizeof(libusb_transfer) + sizeof(libusb_iso_packet_descriptor) * static_cast<size_t>(isoPackets);
    return static_cast<libusb_transfer*>(std::calloc(1, size));
}

void LIBUSB_CALL libusb_free_transfer(struct libusb_transfer* transfer)
{
    if (!transfer)
        return;
    if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER)
        std::free(transfer->buffer);
    std::free(transfer);
}

int LIBUSB_CALL libusb_submit_transfer(struct libusb_transfer* transfer)
{
    libusb_context* ctx = ctxOf(transfer);
    if (!ctx)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::lock_guard lock(ctx->mutex);
    ctx->refreshLocked(false);
    if (!ctx->onBus())
        return LIBUSB_ERROR_NO_DEVICE;
    for (const Pending& p : ctx->queue)
        if (p.transfer == transfer)
            return LIBUSB_ERROR_BUSY;
    const auto now = Clock::now();
    Pending p{transfer, now, LIBUSB_TRANSFER_COMPLETED, false};
    if (ctx->streaming && !ctx->streamLogged) {
        ctx->streamLogged = true;
        logRequest("stream");
    }
    if (ctx->settings.fault == "timeout" || !ctx->streaming || transfer->dev_handle->dev->foreign) {
        p.due = now + std::chrono::milliseconds(transfer->timeout ? transfer->timeout : 1000);
        p.forced = LIBUSB_TRANSFER_TIMED_OUT;
    } else {
        // The samples of this transfer are those the receiver produces after the ones
        // already promised to the transfers before it.
        const double seconds = static_cast<double>(transfer->length / 8) / ctx->settings.rate;
        ctx->streamEnd = std::max(ctx->streamEnd, now)
            + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        p.due = ctx->streamEnd;
    }
    ctx->queue.push_back(p);
    return 0;
}

int LIBUSB_CALL libusb_cancel_transfer(struct libusb_transfer* transfer)
{
    libusb_context* ctx = ctxOf(transfer);
    if (!ctx)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::lock_guard lock(ctx->mutex);
    for (Pending& p : ctx->queue) {
        if (p.transfer == transfer && !p.cancelled) {
            p.cancelled = true;
            p.due = Clock::now();
            return 0;
        }
    }
    return LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context* ctx, struct timeval* tv, int* completed)
{
    if (!ctx)
        return LIBUSB_ERROR_INVALID_PARAM;
    const auto now = Clock::now();
    const auto limit = now + std::chrono::seconds(tv ? tv->tv_sec : 60) + std::chrono::microseconds(tv ? tv->tv_usec : 0);
    Clock::time_point wake = limit;
    {
        std::lock_guard lock(ctx->mutex);
        ctx->refreshLocked(false);
        for (const Pending& p : ctx->queue)
            wake = std::min(wake, p.due);
    }
    std::this_thread::sleep_until(wake);
    // Every transfer due by now, earliest first; a callback may submit again meanwhile.
    for (;;) {
        Pending next{};
        {
            std::lock_guard lock(ctx->mutex);
            auto it = std::min_element(ctx->queue.begin(), ctx->queue.end(),
                                       [](const Pending& a, const Pending& b) { return a.due < b.due; });
            if (it == ctx->queue.end() || it->due > Clock::now())
                break;
            next = *it;
            ctx->queue.erase(it);
        }
        completeOne(ctx, next);
        if (completed && *completed)
            break;
    }
    return 0;
}

int LIBUSB_CALL libusb_handle_events(libusb_context* ctx)
{
    struct timeval tv {1, 0};
    return libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
}

const char* LIBUSB_CALL libusb_error_name(int code)
{
    return code == 0 ? "LIBUSB_SUCCESS" : "LIBUSB_ERROR";
}

} // extern "C"
