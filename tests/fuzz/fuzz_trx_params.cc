// Fuzzes the decoder of the maker's transceiver's parameter frame: any payload, decoded
// twice into the same record (the level rule reads the slots' previous values).
#include "core/works.h"
#include "fuzz_support.h"
#include "transceiver/serial_frames.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SerParam record;
    const size_t half = size / 2;
    decodeParameterFrame(record, std::span<const uint8_t>(data, half));
    decodeParameterFrame(record, std::span<const uint8_t>(data + half, size - half));
    if (record.unused21 != 0)
        fuzz::fail("slot 21 written");
    if (record.shift20 < -524288 || record.shift20 > 524287)
        fuzz::fail("shift20 %d outside 20 bits", record.shift20);
    if (record.txFlag < 0 || record.txFlag > 1 || record.anReq < 0 || record.anReq > 1)
        fuzz::fail("flag outside 0..1");
    if (record.frequency != (record.freqOfM ? record.freqM : record.vfoB ? record.freqB : record.freqA))
        fuzz::fail("frequency %d is not the active VFO's", record.frequency);
    const int start = spectrumAlignStart(record.mode, record.shift12, record.shift20);
    if (start < 0)
        fuzz::fail("alignment start %d", start);
    return 0;
}
