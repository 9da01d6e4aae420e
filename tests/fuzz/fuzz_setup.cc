// Fuzzes the setup file reader. The input is followed by one well-formed line, which must
// be read whatever comes before it; every text slot must keep its terminating zero.
#include "core/setup.h"
#include "fuzz_support.h"

#include <cstring>
#include <vector>

namespace {

constexpr char lastLine[] = "\nCPUPercVentola: 4242\n";

// Text slots of the record with their widths, as the record declares them.
#define TEXT_SLOT(name) {#name, offsetof(Orvosetup, name), sizeof(Orvosetup::name)}
struct TextSlot {
    const char* name;
    size_t offset;
    size_t width;
};
const TextSlot textSlots[] = {
    TEXT_SLOT(Pitch), TEXT_SLOT(Quality), TEXT_SLOT(AudioIn), TEXT_SLOT(Divide), TEXT_SLOT(InChannels),
    TEXT_SLOT(AudioCompress), TEXT_SLOT(Multiplier), TEXT_SLOT(AudioOut), TEXT_SLOT(Server),
    TEXT_SLOT(CatPort), TEXT_SLOT(SerPort), TEXT_SLOT(LinPort), TEXT_SLOT(FreqPeriodTime),
    TEXT_SLOT(SWRescAutoTune), TEXT_SLOT(MaxTemperature), TEXT_SLOT(MaxTemperature2),
    TEXT_SLOT(MaxTempAllowed), TEXT_SLOT(PSpar1), TEXT_SLOT(PSpar2), TEXT_SLOT(PSpar3), TEXT_SLOT(PSpar4),
    TEXT_SLOT(OffsetPlot), TEXT_SLOT(CatSerialPort), TEXT_SLOT(TUNEenabled), TEXT_SLOT(NumBanco),
    TEXT_SLOT(GMpar1), TEXT_SLOT(GMpar2), TEXT_SLOT(Peak_media), TEXT_SLOT(Peak_ValDec),
    TEXT_SLOT(Peak_TimeDec), TEXT_SLOT(Peak_Time), TEXT_SLOT(MAXbank), TEXT_SLOT(BTN_longpress_Time),
    TEXT_SLOT(AudioBuffers), TEXT_SLOT(CPUTempVentola), TEXT_SLOT(CPUPercVentola),
};
#undef TEXT_SLOT

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> file(data, data + size);
    file.insert(file.end(), lastLine, lastLine + sizeof lastLine - 1);
    fuzz::writeSettings("opt/set/setup.txt", file.data(), file.size());
    auto works = fuzz::freshWorks();
    Orvosetup record{};
    works->setup = &record;
    readSetup(works.get());

    const char* bytes = reinterpret_cast<const char*>(&record);
    for (const TextSlot& s : textSlots)
        if (memchr(bytes + s.offset, '\0', s.width) == nullptr)
            fuzz::fail("setup slot %s lost its terminating zero", s.name);
    if (record.end != '\0')
        fuzz::fail("the setup record's last byte is no longer zero");
    if (memchr(works->serverAddr, '\0', sizeof works->serverAddr) == nullptr)
        fuzz::fail("serverAddr lost its terminating zero");
    if (works->cpuPercVentola != 4242 || strcmp(record.CPUPercVentola, "4242") != 0)
        fuzz::fail("a well-formed last line was not read (CPUPercVentola %d)", works->cpuPercVentola.load());
    return 0;
}
