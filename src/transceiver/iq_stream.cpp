#include "transceiver/iq_stream.h"

#include "amplifier/errors.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "transceiver/fft_line.h"
#include "transceiver/peer_link.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <libusb.h>
#include <memory>
#include <mutex>
#include <sys/time.h>

namespace {

constexpr uint8_t VENDOR_IN = 0xC0;  // vendor request, to the device, data in
constexpr uint16_t CAL_INDEX = 0x0151;

// The common exit, once per run.
void exitReader(IqReader& reader)
{
    reader.stop = true;
    if (reader.exited)
        return;
    reader.exited = true;
    ExitIxoread(reader.works);
}

int lpLevelOf(Works* works)
{
    if (!works->serPar || !works->serMut)
        return 0;
    std::lock_guard<std::mutex> lock(*works->serMut);
    return works->serPar->lpLevel;
}

// The USB side of one run: context, device, claimed interface and transfers, released in
// order at the end (transfers still in flight are cancelled and waited for first).
struct UsbSession {
    libusb_context* ctx = nullptr;
    libusb_device_handle* handle = nullptr;
    bool claimed = false;
    std::array<IqTransfer, IQ_TRANSFERS> transfers;

    ~UsbSession()
    {
        for (IqTransfer& t : transfers)
            if (t.inFlight)
                libusb_cancel_transfer(t.transfer);
        const double deadline = monoSeconds() + IQ_TIMEOUT_MS / 1000.0 + 1.0;
        while (ctx && monoSeconds() < deadline
               && std::any_of(transfers.begin(), transfers.end(), [](const IqTransfer& t) { return t.inFlight; })) {
            timeval tv{0, 100000};
            libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
        }
        for (IqTransfer& t : transfers) {
            // A transfer that never came back stays allocated: libusb may still write it.
            if (t.transfer && !t.inFlight)
                libusb_free_transfer(t.transfer);
        }
        if (claimed)
            libusb_release_interface(handle, 0);
        if (handle)
            libusb_close(handle);
        if (ctx)
            libusb_exit(ctx);
    }
};

// A calibration value: 4 bytes of a float. One that is not a finite number, or beyond any
// sensible gain, counts as 0 dB: it would otherwise turn every sample into NaN or infinity.
bool readOffset(libusb_device_handle* h, uint16_t value, const char* name, float& out)
{
    unsigned char buf[4] = {};
    const int r = libusb_control_transfer(h, VENDOR_IN, 0xA2, value, CAL_INDEX, buf, sizeof buf, 0);
    if (r != 4) {
        logSys(LOG_ERR, "%s failed (%d)\n", name, r);
        return false;
    }
    std::memcpy(&out, buf, sizeof out);
    if (!std::isfinite(out) || std::fabs(out) > 200.0f) {
        logSys(LOG_ERR, "%s out of range, 0 used\n", name);
        out = 0;
    }
    logSys(LOG_INFO, "%s: %f\n", name, static_cast<double>(out));
    return true;
}

// A one-byte FIFO request: the number of bytes answered and the byte.
int fifoRequest(libusb_device_handle* h, uint16_t value, uint16_t index, unsigned char& answer)
{
    return libusb_control_transfer(h, VENDOR_IN, 0xE1, value, index, &answer, 1, 0);
}

// Finds and opens the receiver: the first device with the receiver's vendor and product.
// Other gadgets share the vendor number; they are left alone (never opened, their kernel
// drivers stay bound). The refused receiver models end the run before they are opened.
// False when the run ends.
bool openReceiver(UsbSession& s)
{
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(s.ctx, &list);
    if (count < 0) {
        logSys(LOG_ERR, "Get Device Error\n");
        return false;
    }
    std::unique_ptr<libusb_device*, void (*)(libusb_device**)> owned(list, [](libusb_device** l) {
        libusb_free_device_list(l, 1);
        logErr("libusb devices list freed\n");
    });
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        const int r = libusb_get_device_descriptor(list[i], &desc);
        if (r < 0) {
            logSys(LOG_ERR, "Get Device Descriptor %d %d\n", r, static_cast<int>(i));
            return false;
        }
        logSys(LOG_INFO, "%d vid %04x pid %04x %d\n", static_cast<int>(i), desc.idVendor, desc.idProduct,
               libusb_get_bus_number(list[i]));
        if (desc.idVendor != usbVendorId)
            continue;
        if (desc.idProduct == pidQ2 || desc.idProduct == pidQ1) {
            logSys(LOG_ERR, desc.idProduct == pidQ2 ? "KRP Q2 " : "KRP Q1 ");
            return false;
        }
        if (desc.idProduct != pidIxo) {
            logSys(LOG_INFO, "%04x:%04x is not the receiver, left alone\n", desc.idVendor, desc.idProduct);
            continue;
        }
        if (libusb_open(list[i], &s.handle) != 0) {
            s.handle = nullptr;
            logErr("Cannot open KRP Device\n");
            return false;
        }
        logErr("KRP Device Opened\n");
        if (libusb_kernel_driver_active(s.handle, 0) == 1) {
            logErr("Kernel Driver Active\n");
            if (libusb_detach_kernel_driver(s.handle, 0) == 0)
                logErr("Kernel Driver Detached\n");
        }
        if (libusb_claim_interface(s.handle, 0) < 0) {
            logErr("Cannot claim Interface\n");
            return false;
        }
        s.claimed = true;
        logErr("Interface claimed\n");

        unsigned char version[2] = {};
        if (libusb_control_transfer(s.handle, VENDOR_IN, 0xFF, 0, 0, version, 2, 0) == 2)
            logErr("USB Driver Version: %d.%d\n", version[0], version[1]);
        else
            logErr("USB Driver Version read failed\n");
        if (libusb_control_transfer(s.handle, VENDOR_IN, 0xA2, 0x404C, CAL_INDEX, version, 2, 0) == 2)
            logErr("HW Version: %d.%d\n", version[0], version[1]);
        else
            logErr("HW Version read failed\n");
        unsigned char serial[33] = {};
        const int n = libusb_control_transfer(s.handle, VENDOR_IN, 0xA2, 0x4000, CAL_INDEX, serial, 32, 0);
        if (n != 32) {
            logErr("Serial read failed (%d)\n", n);
            return false;
        }
        logErr("KRP IXO ");
        logErr("Serial: %-s\n", reinterpret_cast<const char*>(serial));
        logErr("Device caught\n");
        return true;
    }
    logSys(LOG_ERR, "Cannot find KRP Device\n");
    return false;
}

// Calibration, the transforms, FIFO start and the four transfers; false when the run ends.
bool startStream(UsbSession& s, IqReader& reader)
{
    if (!readOffset(s.handle, 0x4028, "Global Offset", reader.globalOffset)
        || !readOffset(s.handle, 0x402C, "LP Offset", reader.lpOffset)
        || !readOffset(s.handle, 0x4030, "ATT Offset", reader.attOffset))
        return false;
    // Before the FIFO starts filling: planning takes a good fraction of a second.
    if (!planIqSpectrum(reader))
        return false;

    unsigned char answer = 0;
    int r = fifoRequest(s.handle, 0, 0xE900, answer);
    if (r == 1)
        logErr("Stop FIFO\n");
    else
        logErr("Stop FIFO failed (%d)\n", r);
    r = fifoRequest(s.handle, 0, 0xE800, answer);
    if (r == 1)
        logErr("Init FIFO\n");
    else
        logErr("Init FIFO failed (%d)\n", r);
    answer = 0;
    r = fifoRequest(s.handle, 1, 0xE900, answer);
    if (r != 1 || answer != 0xE9)
        logErr("Enable SYN failed (%d %02X)\n", r, answer);
    logErr("SYN Enabled\n");

    for (IqTransfer& t : s.transfers) {
        t.transfer = libusb_alloc_transfer(0);
        if (!t.transfer) {
            logErr("libusb_alloc_transfer failed\n");
            return false;
        }
    }
    logErr("libusb_alloc_transfer succedeed\n");
    for (int i = 0; i < IQ_TRANSFERS; ++i) {
        IqTransfer& t = s.transfers[static_cast<size_t>(i)];
        t.index = i;
        t.reader = &reader;
        libusb_fill_bulk_transfer(t.transfer, s.handle, IQ_ENDPOINT, t.raw.data(), IQ_BLOCK_BYTES, cb_in, &t,
                                  IQ_TIMEOUT_MS);
        r = libusb_submit_transfer(t.transfer);
        if (r != 0) {
            logErr("libusb_submit_transfer failed (%d)\n", r);
            return false;
        }
        t.inFlight = true;
    }
    logErr("libusb_submit_transfer succedeed\n");
    logErr("SYN transfer starting\n");
    return true;
}

const char* statusName(int status)
{
    switch (status) {
    case LIBUSB_TRANSFER_ERROR:
        return "Error";
    case LIBUSB_TRANSFER_TIMED_OUT:
        return "Timedout";
    case LIBUSB_TRANSFER_CANCELLED:
        return "Cancelled";
    case LIBUSB_TRANSFER_STALL:
        return "Stalled";
    case LIBUSB_TRANSFER_NO_DEVICE:
        return "Nodevice";
    case LIBUSB_TRANSFER_OVERFLOW:
        return "Overflowed";
    default:
        return "Unknown";
    }
}

} // namespace

float iqGain(float globalOffset, float lpOffset, int lpLevel)
{
    const double l = lpLevel >= 1 ? lpOffset : 0.0;
    return static_cast<float>(std::pow(10.0, (21.4 - globalOffset + l) / 20.0));
}

size_t iqScale(const uint8_t* raw, int bytes, float gain, float* out)
{
    const size_t count = static_cast<size_t>(std::clamp(bytes, 0, IQ_BLOCK_BYTES)) / 4;
    const double scale = static_cast<double>(gain) / 2147483648.0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* b = raw + 4 * i;
        const uint32_t u = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8
            | static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
        out[i] = static_cast<float>(static_cast<int32_t>(u) * scale);
    }
    return count;
}

bool iqBlockDone(IqReader& reader, IqTransfer& t, int status, int actualLength)
{
    Works* works = reader.works;
    if (status == LIBUSB_TRANSFER_COMPLETED) {
        reader.errCounter = 0;
        if (setupSwitch(works->setup, &Orvosetup::fftMirror) != '0') {
            reader.recalc = iqGain(reader.globalOffset, reader.lpOffset, lpLevelOf(works));
            const size_t count = iqScale(t.raw.data(), actualLength, reader.recalc, t.samples.data());
            // A divider of 0 or less would never bring the countdown back to 0: it counts as 1.
            if (--reader.divide <= 0) {
                reader.divide = std::max(1, works->divideSetting.load());
                if (works->wsConnected)
                    fftCalc(reader, t.samples.data(), static_cast<int>(count));
            }
        }
    } else {
        logSys(LOG_INFO, "CB result: %s %d\n", statusName(status), t.index);
        ++reader.errCounter;
    }
    if (reader.errCounter > IQ_MAX_ERRORS) {
        logSys(LOG_ERR, "libusb_err_counter (%d), %s:%d\n", reader.errCounter, __FILE_NAME__, __LINE__);
        return false;
    }
    return !reader.stop;
}

void cb_in(libusb_transfer* transfer)
{
    IqTransfer& t = *static_cast<IqTransfer*>(transfer->user_data);
    IqReader& reader = *t.reader;
    if (!iqBlockDone(reader, t, transfer->status, transfer->actual_length)) {
        t.inFlight = false;
        return;
    }
    const int r = libusb_submit_transfer(transfer);
    if (r != 0) {
        t.inFlight = false;
        logSys(LOG_ERR, "libusb_submit_transfer failed (%d)  %s:%d\n", r, __FILE_NAME__, __LINE__);
        // The event loop sees the switch drop and ends the run, closing the device there
        // rather than under the other transfers still in flight.
        exitReader(reader);
    }
}

bool planIqSpectrum(IqReader& reader)
{
    reader.fftSmall = createFftWork(FFT_POINTS_SMALL);
    reader.fftLarge = createFftWork(FFT_POINTS_LARGE);
    if (!reader.fftSmall || !reader.fftLarge)
        return false;
    logErr("Spectrum transforms planned (%d and %d points)\n", FFT_POINTS_SMALL, FFT_POINTS_LARGE);
    return true;
}

void fftCalc(IqReader& reader, const float* samples, int count)
{
    Works* works = reader.works;
    const bool wide = setupSwitch(works->setup, &Orvosetup::Enable1600) != '0';
    FftWork* work = (wide ? reader.fftLarge : reader.fftSmall).get();
    if (!work)
        return;
    uint8_t line[SPECTRUM_LINE_MAX];
    const int length = fftLine(*work, samples, static_cast<size_t>(std::max(count, 0)), line);
    if (length > 0 && works->wsConnected)
        peerSpectrum(works, line, static_cast<size_t>(length));
}

void ExitIxoread(Works* works)
{
    AddErrore(works, ERR_REMOTE_USB);
    setSetupSwitch(works->setup, &Orvosetup::EnableFFT, '0');
    works->remoteThreadExited = 1;
}

void* IXORead(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    logSys(LOG_INFO, "Operations init zolt-comms version 1.0\n");
    logErr("Operations init zolt-comms version 1.0\n");
    IqReader reader;
    reader.works = works;
    {
        UsbSession session;
        int r = libusb_init(&session.ctx);
        if (r < 0) {
            session.ctx = nullptr;
            logSys(LOG_ERR, "Init Error %d\n", r);
        } else {
            libusb_set_option(session.ctx, LIBUSB_OPTION_LOG_LEVEL, 3);
            if (openReceiver(session) && startStream(session, reader)) {
                r = 0;
                while (setupSwitch(works->setup, &Orvosetup::EnableFFT) == '1' && reader.errCounter <= IQ_MAX_ERRORS
                       && works->running) {
                    timeval tv{0, 100000};
                    r = libusb_handle_events_timeout_completed(session.ctx, &tv, nullptr);
                    if (r != 0)
                        printf("%d\n", r);
                    sleepMs(1);
                }
                reader.stop = true;
                logErr("libusb_handle events completed (%d)\n", r);
                logErr("IXORead end\n");
            }
        }
        // The common exit first, then the session releases the transfers, the interface
        // and the device. A run that ends because the program is stopping has not failed:
        // no error, and the switch stays as the setup file has it.
        if (works->running)
            exitReader(reader);
        else
            reader.stop = true;
    }
    return nullptr;
}
