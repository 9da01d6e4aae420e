#include "core/setup.h"

#include "core/works.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/settings_file.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>

namespace {

constexpr const char* SETUP_PATH = "/opt/set/setup.txt";
constexpr size_t SETUP_LINE_MAX = 99;

// One writeSetup at a time: it also brings the record's number slots up to date.
std::mutex writeSetupMutex;

char loadChar(const char* slot)
{
    return std::atomic_ref<char>(*const_cast<char*>(slot)).load(std::memory_order_relaxed);
}

void storeChar(char* slot, char value)
{
    std::atomic_ref<char>(*slot).store(value, std::memory_order_relaxed);
}

enum KeyKind {
    KEY_SWITCH,  // one character, kept in the record only
    KEY_DIGIT,   // one character; the works field holds character - base
    KEY_TEXT,    // text slot, kept in the record (some with a conversion on reading)
    KEY_NUMBER,  // text slot holding a number that lives in works or a global
    KEY_DIRECT,  // no slot of its own in the file: written with %d from works
};

struct SetupKey {
    const char* key;
    KeyKind kind;
    size_t offset;  // slot in Orvosetup
    size_t width;
    Relaxed<int32_t> Works::*digitField;  // KEY_DIGIT
    char digitBase;                        // KEY_DIGIT: '0', or '1' for the antenna
    void (*onRead)(Works*, const char* value);
    int (*fileValue)(const Works*);        // KEY_NUMBER, KEY_DIRECT: value in file units
};

// Scaled settings are written back rounded to the nearest unit: a plain truncation of a
// float such as 61.3 x 10 gives 612 and would lower the setting on every save.
int toUnits(double value, double scale)
{
    return static_cast<int>(std::lround(value * scale));
}

// The audio frame is Multiplier blocks of 240 samples. A multiplier whose frame would not
// fit an int is refused (logged) and the frame keeps its size, rather than overflow.
void readFrameMultiplier(Works* works, const char* value)
{
    const long long samples = 240LL * atoi(value);
    if (samples < INT_MIN || samples > INT_MAX) {
        logSys(LOG_ERR, "Multiplier %s out of range, kept %d samples", value, works->audioFrameSamples.load());
        return;
    }
    works->audioFrameSamples = static_cast<int>(samples);
}

#define SLOT(name) offsetof(Orvosetup, name), sizeof(Orvosetup::name)
#define SWITCH(name) {#name, KEY_SWITCH, SLOT(name), nullptr, 0, nullptr, nullptr}
#define DIGIT(name, field) {#name, KEY_DIGIT, SLOT(name), &Works::field, '0', nullptr, nullptr}
#define TEXT(name) {#name, KEY_TEXT, SLOT(name), nullptr, 0, nullptr, nullptr}
#define NUMBER(name, read, value) \
    {#name, KEY_NUMBER, SLOT(name), nullptr, 0, [](Works* w, const char* v) { read; (void)w; (void)v; }, \
     [](const Works* w) -> int { (void)w; return value; }}
#define INT_FIELD(name, expr) NUMBER(name, expr = atoi(v), expr)

// The keys in the order writeSetup writes them.
const SetupKey setupKeys[] = {
    SWITCH(EnableKeyb),
    SWITCH(EnableSpi),
    SWITCH(EnableTouch),
    SWITCH(DelayedTouch),
    SWITCH(EnableGPIO),
    SWITCH(EnableRead),
    SWITCH(EnableWrite),
    SWITCH(EnableCAT),
    SWITCH(EnableLinear),
    SWITCH(EnableTime),
    SWITCH(WebSocket),
    TEXT(Pitch),
    TEXT(Quality),
    TEXT(AudioIn),
    TEXT(InChannels),
    {"AudioCompress", KEY_DIRECT, SLOT(AudioCompress), nullptr, 0,
     [](Works* w, const char* v) { w->audioBitrate = atoi(v); },
     [](const Works* w) -> int { return w->audioBitrate; }},
    {"Multiplier", KEY_TEXT, SLOT(Multiplier), nullptr, 0, readFrameMultiplier, nullptr},
    TEXT(AudioOut),
    {"Server", KEY_TEXT, SLOT(Server), nullptr, 0,
     [](Works* w, const char* v) { setSlot(w->serverAddr, v); }, nullptr},
    {"TcpPort", KEY_DIRECT, 0, 0, nullptr, 0,
     [](Works* w, const char* v) { w->tcpPort = static_cast<int16_t>(atoi(v)); },
     [](const Works* w) -> int { return w->tcpPort; }},
    TEXT(CatPort),
    TEXT(SerPort),
    TEXT(LinPort),
    {"NumAntenna", KEY_DIGIT, SLOT(NumAntenna), &Works::antenna, '1', nullptr, nullptr},
    DIGIT(EnablePwrPeak, enablePwrPeak),
    DIGIT(TempMode, tempMode),
    DIGIT(FreqSensIn, freqSensIn),
    INT_FIELD(FreqPeriodTime, w->freqPeriodTime),
    DIGIT(Attenuator, attenuator),
    DIGIT(AttenuatorTune, attenuatorTune),
    NUMBER(SWRescAutoTune, w->swrEscAutoTune = static_cast<float>(atoi(v) / 100.0),
           toUnits(w->swrEscAutoTune, 100)),
    DIGIT(ViewTimeStr, viewTimeStr),
    DIGIT(ViewTemp, viewTemp),
    NUMBER(MaxTemperature, w->maxTemperature = static_cast<float>(atoi(v) / 10.0),
           toUnits(w->maxTemperature, 10)),
    NUMBER(MaxTemperature2, w->maxTemperature2 = static_cast<float>(atoi(v) / 10.0),
           toUnits(w->maxTemperature2, 10)),
    DIGIT(AutoTuneMaxCicli, autoTuneMaxCicli),
    DIGIT(PowerUnits, powerUnits),
    DIGIT(SaveScreenIdx, saveScreenIdx),
    DIGIT(AutoTuneMode, autoTuneMode),
    SWITCH(EnableFFT),
    {"Divide", KEY_DIRECT, SLOT(Divide), nullptr, 0,
     [](Works* w, const char* v) { w->divideSetting = atoi(v); },
     [](const Works* w) -> int { return w->divideSetting; }},
    INT_FIELD(MaxTempAllowed, w->maxTempAllowed),
    INT_FIELD(PSpar1, w->psPar[0]),
    INT_FIELD(PSpar2, w->psPar[1]),
    DIGIT(Isteresi1, isteresi1),
    DIGIT(Isteresi2, isteresi2),
    INT_FIELD(PSpar3, w->psPar[2]),
    INT_FIELD(PSpar4, w->psPar[3]),
    NUMBER(OffsetPlot, w->offsetPlot = atoi(v) / 10, toUnits(w->offsetPlot, 10)),
    TEXT(CatSerialPort),
    NUMBER(TUNEenabled, w->tuneEnabled = static_cast<uint8_t>(atoi(v)), w->tuneEnabled),
    INT_FIELD(NumBanco, w->numBanco),
    INT_FIELD(GMpar1, w->gmPar1),
    INT_FIELD(GMpar2, w->gmPar2),
    INT_FIELD(Peak_media, fattoremedia),
    NUMBER(Peak_ValDec, PeakDecrement = atoi(v) / 10.0, toUnits(PeakDecrement, 10)),
    INT_FIELD(Peak_TimeDec, PeakDecrementTime),
    INT_FIELD(Peak_Time, TimerPeakSec),
    INT_FIELD(MAXbank, w->maxBank),
    NUMBER(BTN_longpress_Time, TIME_LONG_PRESS = atoi(v) / 10.0, toUnits(TIME_LONG_PRESS, 10)),
    DIGIT(EnableDebug, enableDebug),
    SWITCH(Enable1600),
    DIGIT(EnableLOGTemp, enableLogTemp),
    INT_FIELD(AudioBuffers, w->audioBuffers),
    SWITCH(AutoTuneTipo),
    INT_FIELD(CPUTempVentola, w->cpuTempVentola),
    INT_FIELD(CPUPercVentola, w->cpuPercVentola),
};

#undef INT_FIELD
#undef NUMBER
#undef TEXT
#undef DIGIT
#undef SWITCH
#undef SLOT

char* slotOf(Works* works, const SetupKey& k)
{
    return reinterpret_cast<char*>(works->setup) + k.offset;
}

// The slot's text, never read past the slot even when it lacks its terminating zero.
std::string slotText(Works* works, const SetupKey& k)
{
    const char* s = slotOf(works, k);
    return std::string(s, strnlen(s, k.width));
}

int digitFieldValue(const Works* works, const SetupKey& k)
{
    int v = works->*k.digitField;
    return k.digitField == &Works::autoTuneMode ? (v & 1) : v;
}

// Stores one value read from the file: the slot first, then the conversion.
void storeValue(Works* works, const SetupKey& k, const char* value)
{
    char* slot = slotOf(works, k);
    switch (k.kind) {
    case KEY_SWITCH:
        storeChar(slot, value[0]);
        if (k.offset == offsetof(Orvosetup, EnableFFT))
            setSetupSwitch(works->setup, &Orvosetup::fftMirror, value[0]);
        if (k.offset == offsetof(Orvosetup, Enable1600))
            setSetupSwitch(works->setup, &Orvosetup::fftMirror, '1');
        return;
    case KEY_DIGIT:
        storeChar(slot, value[0]);
        works->*k.digitField = value[0] - k.digitBase;
        return;
    case KEY_TEXT:
    case KEY_NUMBER:
    case KEY_DIRECT:
        if (k.width > 0)
            setSlot(slot, k.width, value);
        if (k.onRead)
            k.onRead(works, value);
        return;
    }
}

void logSetting(Works* works, const SetupKey& k)
{
    switch (k.kind) {
    case KEY_SWITCH:
    case KEY_DIGIT:
        logSys(LOG_INFO, "%s: -%c-", k.key, loadChar(slotOf(works, k)));
        break;
    case KEY_TEXT:
        logSys(LOG_INFO, "%s: -%s-", k.key, slotText(works, k).c_str());
        break;
    case KEY_NUMBER:
        logSys(LOG_INFO, "%s: -%d-", k.key, k.fileValue(works));
        break;
    case KEY_DIRECT:
        if (k.offset == offsetof(Orvosetup, Divide))
            logSys(LOG_INFO, "Divide: -%s- -%d-", slotText(works, k).c_str(), k.fileValue(works));
        else
            logSys(LOG_INFO, "%s: -%d-", k.key, k.fileValue(works));
        break;
    }
}

} // namespace

void setSlot(char* slot, size_t width, const char* text)
{
    if (width == 0)
        return;
    size_t n = strnlen(text, width - 1);
    memcpy(slot, text, n);
    slot[n] = '\0';
}

char setupSwitch(const Orvosetup* s, char Orvosetup::* field)
{
    return loadChar(&(s->*field));
}

void setSetupSwitch(Orvosetup* s, char Orvosetup::* field, char value)
{
    storeChar(&(s->*field), value);
}

void clearSetupValues(Works* works)
{
    for (const SetupKey& k : setupKeys) {
        if (k.kind == KEY_DIGIT)
            works->*k.digitField = 0;
        else if ((k.kind == KEY_NUMBER || k.kind == KEY_DIRECT) && k.onRead)
            k.onRead(works, "0");
    }
}

void initSetup(Works* works)
{
    InitGlobalVar(works);
    {
        std::lock_guard<std::mutex> lock(works->remotePasswordMutex);
        setSlot(works->remotePassword, REMOTE_DEFAULT_PASSWORD);
    }
    Orvosetup* s = works->setup;
    // Every slot starts as '1'; text slots keep their terminating zero. The record is
    // filled a byte at a time through the switches' atomic access: the factory default
    // runs this while other threads poll their switches.
    char* bytes = reinterpret_cast<char*>(s);
    for (size_t i = 0; i < sizeof *s; ++i)
        storeChar(bytes + i, '1');
    storeChar(&s->end, '\0');
    for (const SetupKey& k : setupKeys)
        if (k.width > 1)
            slotOf(works, k)[k.width - 1] = '\0';
    for (char Orvosetup::* off : {&Orvosetup::EnableSpi, &Orvosetup::EnableTouch, &Orvosetup::DelayedTouch,
                                  &Orvosetup::EnableRead, &Orvosetup::EnableWrite, &Orvosetup::EnableCAT})
        storeChar(&(s->*off), '0');
    setSlot(s->Pitch, "2500");
    setSlot(s->Quality, "100");
    setSlot(s->AudioIn, "hw:1");
    setSlot(s->InChannels, "1");
    setSlot(s->AudioCompress, "64000");
    setSlot(s->Multiplier, "2");
    setSlot(s->AudioOut, "hw:1");
    setSlot(s->Server, "127.0.0.1");
    setSlot(s->CatPort, "/dev/ttyUSB0");
    setSlot(s->SerPort, "/dev/ttyUSB1");
    setSlot(s->LinPort, "/dev/ttyAMA0");
    setSlot(s->CatSerialPort, "/dev/ttyUSB1");
    for (char Orvosetup::* off : {&Orvosetup::EnablePwrPeak, &Orvosetup::TempMode, &Orvosetup::FreqSensIn,
                                  &Orvosetup::EnableFFT, &Orvosetup::Attenuator, &Orvosetup::AttenuatorTune,
                                  &Orvosetup::ViewTimeStr, &Orvosetup::ViewTemp, &Orvosetup::AutoTuneMaxCicli,
                                  &Orvosetup::PowerUnits, &Orvosetup::SaveScreenIdx, &Orvosetup::AutoTuneMode})
        storeChar(&(s->*off), '0');
    setSlot(s->FreqPeriodTime, "10");
    setSlot(s->SWRescAutoTune, "0");
    setSlot(s->MaxTemperature, "600");
    setSlot(s->MaxTempAllowed, "700");
    setSlot(s->PSpar1, "3");
    setSlot(s->PSpar2, "150");
    setSlot(s->PSpar3, "900");
    setSlot(s->PSpar4, "100");
    storeChar(&s->Isteresi1, '3');
    storeChar(&s->Isteresi2, '3');
    setSlot(s->OffsetPlot, "0");
    setSlot(s->TUNEenabled, "0");
    setSlot(s->NumBanco, "1");
    setSlot(s->GMpar1, "2");
    setSlot(s->GMpar2, "100");
    setSlot(s->Peak_media, "2");
    setSlot(s->Peak_ValDec, "10");
    setSlot(s->Peak_TimeDec, "1");
    setSlot(s->Peak_Time, "3000");
    setSlot(s->MAXbank, "20");
    setSlot(s->BTN_longpress_Time, "5");
    setSlot(s->AudioBuffers, "10");
    storeChar(&s->AutoTuneTipo, '0');
    setSlot(s->CPUTempVentola, "75");
    setSlot(s->CPUPercVentola, "70");
}

void readSetup(Works* works)
{
    initSetup(works);
    std::ifstream in(mapPath(SETUP_PATH), std::ios::binary);
    if (!in) {
        logErr("Init Setup! ");
        writeSetup(works);
        logSys(LOG_ERR, "can't open /opt/set/setup.txt");
        return;
    }
    // Lines are taken up to their line end whatever bytes they hold (a zero byte, as a
    // damaged card leaves behind, must not merge a line with the next), and cut at the
    // 99 characters a 100-byte line buffer holds; the rest of a longer line is skipped.
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > SETUP_LINE_MAX)
            line.resize(SETUP_LINE_MAX);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string_view text(line);
        for (const SetupKey& k : setupKeys) {
            const size_t keyLen = strlen(k.key);
            if (text.size() >= keyLen + 2 && text.starts_with(k.key) && text[keyLen] == ':' &&
                text[keyLen + 1] == ' ') {
                storeValue(works, k, line.c_str() + keyLen + 2);
                break;
            }
        }
    }
    for (const SetupKey& k : setupKeys)
        logSetting(works, k);
}

int writeSetup(Works* works)
{
    std::lock_guard<std::mutex> lock(writeSetupMutex);
    std::string text;
    char value[32];
    for (const SetupKey& k : setupKeys) {
        char* slot = slotOf(works, k);
        switch (k.kind) {
        case KEY_SWITCH:
            snprintf(value, sizeof value, "%c", loadChar(slot));
            break;
        case KEY_DIGIT:
            storeChar(slot, static_cast<char>(digitFieldValue(works, k) + k.digitBase));
            snprintf(value, sizeof value, "%c", loadChar(slot));
            break;
        case KEY_TEXT:
            snprintf(value, sizeof value, "%s", slotText(works, k).c_str());
            break;
        case KEY_NUMBER:
            // The file gets the whole number even where the slot is too narrow for it.
            snprintf(value, sizeof value, "%d", k.fileValue(works));
            setSlot(slot, k.width, value);
            break;
        case KEY_DIRECT:
            snprintf(value, sizeof value, "%d", k.fileValue(works));
            break;
        }
        text += k.key;
        text += ": ";
        text += value;
        text += '\n';
    }
    int result = writeSettingsFile(SETUP_PATH, text);
    if (result == SETTINGS_OPEN_FAILED)
        logSys(LOG_ERR, "can't open /opt/set/setup.txt");
    return 0;
}
