#pragma once
// The receiver's USB sample stream. IXORead finds the receiver on the bus, reads its
// calibration offsets, starts its sample FIFO and keeps four bulk transfers in flight.
// Each completed block is scaled to full scale and, every divideSetting-th block while a
// remote peer is connected and the spectrum source is this stream, turned into a spectrum
// line (transceiver/fft_line.h) that goes to the peer as "SP" frames.
//
// Everything here runs on the reader's thread: the callbacks inside its event handling.
#include <array>
#include <cstddef>
#include <cstdint>

#include "transceiver/fft_line.h"
#include "transceiver/usb_ids.h"

struct Works;
struct libusb_transfer;

constexpr int IQ_TRANSFERS = 4;
constexpr int IQ_BLOCK_BYTES = 32768;              // 8192 signed 32-bit values, I and Q
constexpr int IQ_BLOCK_VALUES = IQ_BLOCK_BYTES / 4;
constexpr int IQ_MAX_ERRORS = 10;                  // consecutive bad completions tolerated
constexpr unsigned char IQ_ENDPOINT = 0x86;
constexpr unsigned int IQ_TIMEOUT_MS = 2000;

// One run of the reader: calibration, error count, spectrum countdown and the transforms.
struct IqReader {
    Works* works = nullptr;
    float globalOffset = 0;
    float lpOffset = 0;
    float attOffset = 0;
    float recalc = 1;
    int errCounter = 0;
    int divide = 1;      // completed blocks to the next spectrum line
    bool stop = false;   // completed transfers are no longer submitted again
    bool exited = false; // the common exit has run
    // Both transform sizes, planned when the reader starts: planning measures for a good
    // fraction of a second, which the transfers in flight could not wait for.
    FftWorkPtr fftSmall, fftLarge;
};

// One of the transfers in flight, with its buffers.
struct IqTransfer {
    int index = 0;
    libusb_transfer* transfer = nullptr;
    IqReader* reader = nullptr;
    bool inFlight = false;
    std::array<uint8_t, IQ_BLOCK_BYTES> raw{};
    std::array<float, IQ_BLOCK_VALUES> samples{};
};

// The samples' linear gain: 10^((21.4 - globalOffset + L) / 20), with L = lpOffset while
// the receiver's preamplifier is on (lpLevel 1 or more), else 0.
float iqGain(float globalOffset, float lpOffset, int lpLevel);
// Little-endian signed 32-bit values of raw (whole values in `bytes`) as floats, full
// scale 2^31 giving `gain`. Returns the count written (at most IQ_BLOCK_VALUES).
size_t iqScale(const uint8_t* raw, int bytes, float gain, float* out);
// One finished transfer of the given libusb_transfer_status and length: counts errors,
// scales a good block and makes a spectrum line when one is due. Returns true when the
// transfer is to be submitted again.
bool iqBlockDone(IqReader& reader, IqTransfer& transfer, int status, int actualLength);

// Plans both transform sizes for the reader; false (what failed is logged) when either
// cannot be made.
bool planIqSpectrum(IqReader& reader);
// Completion callback of the four transfers.
void cb_in(libusb_transfer* transfer);
// A spectrum line of the block's first 2048 or 4096 samples ("Enable1600" '0' or '1'),
// sent to the connected peer, with the reader's plan of that size (none is made here: a
// size not planned gives no line). count is the number of float values (I and Q).
void fftCalc(IqReader& reader, const float* samples, int count);
// The common end of the reader: error 5, "EnableFFT" '0', remoteThreadExited 1.
void ExitIxoread(Works* works);
// Thread body, started by StartIxoReadFFT while "EnableFFT" is '1'.
void* IXORead(void* arg);
