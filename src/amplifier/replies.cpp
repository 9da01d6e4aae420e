#include "amplifier/replies.h"

#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "amplifier/measurements.h"
#include "amplifier/thermal.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "tuner/autotune.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Shortest reply text (keyword to ";" included) that holds every position a keyword reads.
constexpr size_t MIN_REPLY = 3;             // keyword and one more character
constexpr size_t MIN_ONE_DIGIT = 4;         // TU, SA, AB, AN, MR: position 2
constexpr size_t MIN_VERSION = 11;          // VS: positions 3-9
constexpr size_t MIN_FREQUENCY = 15;        // FM: positions 3-13
constexpr size_t MIN_IDENTITY = 7;          // ER: block digit at position 5
constexpr size_t MIN_IDENTITY_FULL = 71;    // ER blocks 0 and 1: positions 6-69
constexpr size_t MIN_IDENTITY_MODEL = 11;   // ER block 2: positions 6-9
constexpr size_t MIN_STATUS = 37;           // ST: positions 2-35
constexpr size_t IDENTITY_BYTES = 32;

// The reply handed over by the link, kept with its length (it is never read past it) and
// as a zero-terminated copy for the log lines.
struct Reply {
    std::string_view text;
    std::string line;
};

void finishReply(Works* works)
{
    NextCmdPriority(works, 1);
    sleepMs(20);
}

void failReply(Works* works)
{
    GestRetrayCMD(works);
    sleepMs(20);
}

// A reply shorter than its keyword's layout is a failed attempt.
bool longEnough(Works* works, const Reply& r, size_t minimum)
{
    if (r.text.size() >= minimum)
        return true;
    logErr("---------------------------------------reply too short (%zu < %zu):%s\n", r.text.size(), minimum,
           r.line.c_str());
    failReply(works);
    return false;
}

// Decimal value of exactly `length` characters from `pos` (leading digits only; 0 when none).
long long decimalField(std::string_view text, size_t pos, size_t length)
{
    char field[16] = {};
    std::string_view part = text.substr(pos, std::min<size_t>(length, sizeof field - 1));
    std::copy(part.begin(), part.end(), field);
    return std::strtoll(field, nullptr, 10);
}

int rawField(std::string_view text, size_t pos)
{
    return static_cast<int>(std::clamp<long long>(decimalField(text, pos, 4), 0, 9999));
}

int decimalDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

bool hexBytes(std::string_view text, size_t pos, uint8_t* out, size_t count)
{
    bool valid = true;
    for (size_t i = 0; i < count; i++) {
        int hi = charToInt(text[pos + 2 * i]);
        int lo = charToInt(text[pos + 2 * i + 1]);
        valid = valid && hi >= 0 && lo >= 0;
        out[i] = static_cast<uint8_t>(((hi < 0 ? 0 : hi) << 4) | (lo < 0 ? 0 : lo));
    }
    return valid;
}

void decodeIdentity(Works* works, const Reply& r)
{
    if (!longEnough(works, r, MIN_IDENTITY))
        return;
    const char block = r.text[5];
    if (block == '0' || block == '1') {
        if (!longEnough(works, r, MIN_IDENTITY_FULL))
            return;
        uint8_t bytes[IDENTITY_BYTES] = {};
        if (!hexBytes(r.text, 6, bytes, IDENTITY_BYTES))
            logErr("identity block %c: digits that are not hex read as 0\n", block);
        std::lock_guard<std::mutex> lock(works->identityMutex);
        memcpy(block == '0' ? works->ampEE0 : works->ampEE1, bytes, IDENTITY_BYTES);
        logErr(block == '0' ? "EE0:%s\n" : "EE1:%s\n", r.line.c_str());
    } else if (block == '2') {
        if (!longEnough(works, r, MIN_IDENTITY_MODEL))
            return;
        uint8_t pair[2];
        if (!hexBytes(r.text, 6, pair, 2))
            logErr("identity block 2: digits that are not hex read as 0\n");
        works->ampEE2a = pair[0];
        works->ampModel = pair[1];
        number_ofStep_meter_FWD = works->ampModel == '1' ? 120 : 60;
        logErr("EE2: %x %x\n", works->ampEE2a.load(), works->ampModel.load());
    } else {
        logErr("identity block %c unknown:%s\n", block, r.line.c_str());
    }
    finishReply(works);
}

void decodeGeneralSettings(Works* works, const Reply& r)
{
    char copy[sizeof works->impostazioniGenerali] = {};
    for (size_t i = 0; i < sizeof copy - 1 && 2 + i < r.text.size(); i++) {
        if (r.text[2 + i] == ';') {
            logErr("ERRORE!! Impostazioni Generali\n");
            break;
        }
        copy[i] = r.text[2 + i];
    }
    memcpy(works->impostazioniGenerali, copy, sizeof copy);
    works->coaxRxTx = (copy[1] & 2) != 0 ? 1 : 0;
    logErr("Impostazioni Generali : %s (%s)\n", works->impostazioniGenerali, r.line.c_str());
    finishReply(works);
}

// While the link has given up commands (error 4) the board's own bypass and attenuator
// state is taken over, whatever was requested.
void takeOverBoardState(Works* works, uint8_t b0, uint8_t b1)
{
    if ((b1 & 8) && works->ampBypass == 0) {
        logErr("STATE DA ERRORE : bypass on\n");
        works->ampBypass = 1;
    } else if (!(b1 & 8) && works->ampBypass == 1) {
        logErr("STATE DA ERRORE : bypass off\n");
        works->ampBypass = 0;
    }
    static const char* const messages[4] = {
        "STATE DA ERRORE : attenuatore 3dB=off 2dB=off\n",
        "STATE DA ERRORE : attenuatore 3dB=off 2dB=on\n",
        "STATE DA ERRORE : attenuatore 3dB=on 2dB=off\n",
        "STATE DA ERRORE : attenuatore 3dB=on 2dB=on\n",
    };
    const int pads = (b0 >> 2) & 3;
    if (works->attenuator != pads) {
        logErr("%s", messages[pads]);
        works->attenuator = pads;
        works->attenuatorSel = works->attenuator;
    }
}

void statusFaults(Works* works, uint8_t b1, uint8_t b2)
{
    if ((b2 & 0x80) && works->microReset == 1)
        AddErrore(works, ERR_MICRO_RESET);

    if (b2 & 0x5F) {
        if (b2 & 0x40) {
            AddErrore(works, ERR_BAND_STANDBY);
        } else {
            static const char* const names[5] = {"I OUT", "REFL", "FWD", "SENS PW", "FILTER TX"};
            for (int bit = 0; bit < 5; bit++)
                if (b2 & (1 << bit))
                    snprintf(works->ampErrText, sizeof works->ampErrText, "%s", names[bit]);
            setErrorDetail(works, ERR_BOARD_FAULT, works->ampErrText);
            AddErrore(works, ERR_BOARD_FAULT);
        }
    } else {
        DeleteErrore(works, ERR_BOARD_FAULT);
        if (errorFlags(works) & 2)
            clearErrorFlags(works, 3);
    }

    if ((b2 & 0x20) && works->anState == 1 && works->tuneStatus == 0 && !(works->autoTuneMode & 0x1E))
        AddErrore(works, ERR_POWER_IN);

    if (b1 & 2) {
        AddErrore(works, ERR_HIGH_SWR);
    } else {
        DeleteErrore(works, ERR_HIGH_SWR);
        if (errorFlags(works) & 2)
            clearErrorFlags(works, 3);
    }
    if (!(b1 & 4) && (errorFlags(works) & 2))
        clearErrorFlags(works, 3);
}

void statusMeasurements(Works* works, std::string_view t)
{
    const float k0 = SearchK(works, K_FWD);
    works->rawIn = static_cast<uint16_t>(rawField(t, 4));
    works->pwrIn = SearchK(works, K_IN) * static_cast<float>(works->rawIn) * static_cast<float>(works->rawIn);
    works->rawFwd = static_cast<uint16_t>(rawField(t, 8));
    works->pwrFwd = k0 * static_cast<float>(works->rawFwd) * static_cast<float>(works->rawFwd);
    works->rawRefl = static_cast<uint16_t>(rawField(t, 12));
    const float refl = SearchK(works, K_REFL) * static_cast<float>(works->rawRefl) * static_cast<float>(works->rawRefl)
                     + SearchK(works, K_DIR) * works->pwrFwd;
    works->pwrRefl = refl < 0 ? 0.0f : refl;
    works->swr = swrFromPowers(works->pwrFwd, works->pwrRefl);

    works->rawCurrent = static_cast<uint16_t>(rawField(t, 16));

    works->rawTemp1 = static_cast<uint16_t>(rawField(t, 20));
    works->rawTemp2 = static_cast<uint16_t>(rawField(t, 24));
    const float t1 = CalcolaTemp(works->rawTemp1);
    const float t2 = CalcolaTemp(works->rawTemp2);
    works->temp1 = works->temp1 == 0 ? t1 : (9 * works->temp1 + t1) / 10;
    works->temp2 = works->temp2 == 0 ? t2 : (9 * works->temp2 + t2) / 10;

    if (works->enablePwrPeak == 1) {
        const float peak = static_cast<float>(rawField(t, 32));
        works->pwrPeak = std::min(k0 * peak * peak, works->ampModel == '1' ? 130.0f : 70.0f);
    }
}

// After a status reply the starts and ends of a tune asked for meanwhile are carried out;
// then the next command depends on the tuning state.
void nextAfterStatus(Works* works)
{
    ServeTuneRequests(works);
    switch (works->tuneStatus) {
    case 0: {
        int number = takeQueuedCmd(works);
        linearProcessStatus = number >= 0 ? number : 8;
        break;
    }
    case 1:
        TuneTask(works);
        linearProcessStatus = 11;
        break;
    case 2:
        linearProcessStatus = 13;
        works->tuneStatus = 1;
        break;
    case 3:
        linearProcessStatus = 1;
        works->tuneStatus = 1;
        break;
    default:
        linearProcessStatus = 1;
        break;
    }
    sleepMs(10);
}

void decodeStatus(Works* works, const Reply& r)
{
    if (!longEnough(works, r, MIN_STATUS))
        return;
    const std::string_view t = r.text;
    const int d0 = charToInt(t[2]), d1 = charToInt(t[3]), lo = charToInt(t[28]), hi = charToInt(t[29]);
    if (d0 < 0 || d1 < 0 || lo < 0 || hi < 0) {
        logErr("---------------------------------------status digits not hex:%s\n", r.line.c_str());
        failReply(works);
        return;
    }
    if (works->errResend == 2) {
        GestErroreSerial(works);
        logErr(">>> ERRORI: End Gest Errori!!\n");
        works->errResend = 0;
    }
    const uint8_t b0 = static_cast<uint8_t>(d0);
    const uint8_t b1 = static_cast<uint8_t>(d1);
    const uint8_t b2 = static_cast<uint8_t>(lo | (hi << 4));
    works->statoAmp[0] = b0;
    works->statoAmp[1] = b1;
    works->statoAmp[2] = b2;

    if ((b1 & 8) && works->ampBypass == 0 && works->bypassReq == 1) {
        logErr("--------------- AMPL ERRORE : bypass on %s\n", r.line.c_str());
        works->ampBypass = 1;
    } else if (!(b1 & 8) && works->ampBypass == 1 && works->bypassReq == 0) {
        logErr("--------------- AMPL ERRORE : bypass off %s\n", r.line.c_str());
        works->ampBypass = 0;
    }
    if (ExistError(works, ERR_COMM))
        takeOverBoardState(works, b0, b1);

    statusFaults(works, b1, b2);

    if (works->enableLogTemp == 1 && (b1 & 1) && works->logTempRemoved == 0) {
        logErr("REMOVE file LOG \n");
        LogTempFunction(works, -1);
        LogTempFunction(works, 0);
        works->logTempRemoved = 1;
    }

    statusMeasurements(works, t);

    searchPercentVentola(works);
    GestTemperatureFunction(works, ERR_TEMP1_HIGH, ERR_TEMP1_RECOVERED, ERR_TEMP1_WARNING, works->temp1, works->maxTemperature);
    GestTemperatureFunction(works, ERR_TEMP2_HIGH, ERR_TEMP2_RECOVERED, ERR_TEMP2_WARNING, works->temp2, works->maxTemperature2);

    nextAfterStatus(works);
}

void logAndFinish(Works* works, const char* format, const Reply& r)
{
    logErr(format, r.line.c_str());
    finishReply(works);
}

} // namespace

bool ampTransmitting(const Works* works)
{
    return works->statoAmp[1] & 1;
}

void DecodeCatCmd(Works* works, const char* reply, int count)
{
    if (count < 3 || reply == nullptr)
        return;
    Reply r;
    r.text = std::string_view(reply, static_cast<size_t>(count - 2));
    r.line = std::string(r.text);
    if (r.text.size() < 2)
        return;  // too short to name a command: the link counts it as a failed attempt
    if (!longEnough(works, r, MIN_REPLY))
        return;
    if (r.text[2] == '?' || r.text[2] == '!' || r.text[2] == '&') {
        logErr("---------------------------------------CMD Errato:%s\n", r.line.c_str());
        failReply(works);
        return;
    }
    const std::string_view kw = r.text.substr(0, 2);
    if (kw == "ST") {
        decodeStatus(works, r);
    } else if (kw == "ER") {
        decodeIdentity(works, r);
    } else if (kw == "GS") {
        decodeGeneralSettings(works, r);
    } else if (kw == "VS") {
        if (!longEnough(works, r, MIN_VERSION))
            return;
        {
            std::lock_guard<std::mutex> lock(works->identityMutex);
            memcpy(works->microVersion, r.text.data() + 3, 7);
            works->microVersion[7] = '\0';
        }
        finishReply(works);
    } else if (kw == "FM") {
        if (!longEnough(works, r, MIN_FREQUENCY))
            return;
        const long long hz = decimalField(r.text, 3, 11);
        if (hz > 0 && hz <= static_cast<long long>(UINT32_MAX))
            works->freqMeasured = static_cast<uint32_t>(hz);
        finishReply(works);
    } else if (kw == "FA" || kw == "FS" || kw == "MT" || kw == "AT" || kw == "MP" || kw == "TS") {
        finishReply(works);
    } else if (kw == "CP") {
        enableErrorList(works);
        finishReply(works);
    } else if (kw == "FN") {
        logAndFinish(works, "Ventola: %s\n", r);
    } else if (kw == "PS") {
        logAndFinish(works, "Protezioni automatiche setted : %s\n", r);
    } else if (kw == "SF") {
        logAndFinish(works, "Pilotaggio Relè : %s\n", r);
    } else if (kw == "SE") {
        logAndFinish(works, "SERVICE ATTIVO!! : %s\n", r);
    } else if (kw == "GM") {
        logAndFinish(works, "Impostazioni Generic mode : %s\n", r);
    } else if (kw == "TU" || kw == "SA" || kw == "AB" || kw == "AN" || kw == "MR") {
        if (!longEnough(works, r, MIN_ONE_DIGIT))
            return;
        const char c = r.text[2];
        const int digit = decimalDigit(c);
        if (kw == "AB") {
            logErr(">> ByPass Ampl: %s\n", r.line.c_str());
            works->ampBypass = c == '1' ? 1 : 0;
        } else if (kw == "MR") {
            logErr("RESET MICRO: %s\n", r.line.c_str());
            if (c == '0')
                works->microReset = 1;
            logErr("RESET MICRO ----------------------------------  %x\n", works->microReset.load());
        } else if (digit < 0 || (kw == "SA" && (digit < 1 || digit > 3))) {
            logErr("---------------------------------------bad value:%s\n", r.line.c_str());
            failReply(works);
            return;
        } else if (kw == "TU") {
            works->tuState = static_cast<uint8_t>(digit);
        } else if (kw == "SA") {
            works->antenna = digit - 1;
        } else {
            works->anState = digit;
            if (works->tuneHold & 0x10)
                works->tuneHold |= 0x20;
        }
        finishReply(works);
    } else {
        logErr("---------------------------------------cmd non riconosciuto:%s\n", r.line.c_str());
        failReply(works);
    }
}
