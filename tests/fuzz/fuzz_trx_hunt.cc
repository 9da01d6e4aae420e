// Fuzzes the framed message hunt of the maker's transceiver's link: the input is the byte
// stream; every completed message goes on as the link takes it (parameters decoded, a
// spectrum line converted and aligned with the record's shifts).
#include "core/works.h"
#include "fuzz_support.h"
#include "transceiver/serial_frames.h"

#include <array>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FrameHunter hunter;
    SerParam record;
    std::array<float, 1024> values;
    std::array<uint8_t, ALIGNED_LINE_BYTES> aligned;
    for (size_t i = 0; i < size; ++i) {
        const SerialEvent event = hunter.feed(data[i]);
        const std::span<const uint8_t> payload = hunter.payload();
        if (payload.size() > static_cast<size_t>(SERIAL_PAYLOAD_MAX))
            fuzz::fail("payload of %zu bytes", payload.size());
        if (event == SerialEvent::Parameters) {
            decodeParameterFrame(record, payload);
        } else if (event == SerialEvent::Spectrum) {
            const int taken = spectrumValues(payload, values);
            if (taken < 0 || taken > SPECTRUM_ENTRIES)
                fuzz::fail("%d values taken", taken);
            const size_t sent = alignSpectrumLine(
                payload, spectrumAlignStart(record.mode, record.shift12, record.shift20), aligned);
            if (sent > aligned.size())
                fuzz::fail("%zu bytes to send", sent);
        } else if (event == SerialEvent::BadLength && hunter.length() >= 0 &&
                   hunter.length() <= SERIAL_PAYLOAD_MAX) {
            fuzz::fail("length %d refused", hunter.length());
        }
    }
    return 0;
}
