#include "tuner/tune_memory.h"

#include "amplifier/link.h"
#include "core/works.h"
#include "platform/log.h"
#include "tuner/tune_word.h"
#include "tuner/tuner_files.h"

#include <mutex>

const int32_t tabAtuStep[TAB_ATU_STEPS][2] = {
    {0, 2000},         {1800000, 2000},   {2000000, 4000},   {3500000, 4000},   {4000000, 5000},
    {5330000, 5000},   {5400000, 5000},   {7000000, 5000},   {7300000, 5000},   {10100000, 10000},
    {10150000, 10000}, {14000000, 10000}, {14350000, 10000}, {18000000, 10000}, {18170000, 10000},
    {21000000, 20000}, {21500000, 25000}, {24850000, 25000}, {25000000, 25000}, {28000000, 25000},
    {29700000, 50000}, {50000000, 50000}, {54000000, -1},
};

namespace {

constexpr int lastSegment = TAB_ATU_STEPS - 2;

int segmentSlots(int k)
{
    return (tabAtuStep[k + 1][0] - tabAtuStep[k][0]) / tabAtuStep[k][1];
}

int memoryIndex(int antenna)
{
    return antenna == 0 || antenna == 1 ? antenna : 2;
}

bool sameTune(const TuneMemEntry& e, int capacita, int induttanza, int modo)
{
    return e.capacita == capacita && e.induttanza == induttanza && e.modo == modo;
}

} // namespace

int AtuIdxSearch(uint32_t frequency, int32_t* segStart, int32_t* segEnd, int* firstSlot, int* endSlot)
{
    int k = 0;
    int first = 0;
    while (k < lastSegment && !(frequency >= static_cast<uint32_t>(tabAtuStep[k][0]) &&
                                frequency < static_cast<uint32_t>(tabAtuStep[k + 1][0]))) {
        first += segmentSlots(k);
        ++k;
    }
    const int64_t start = tabAtuStep[k][0];
    const int64_t end = tabAtuStep[k + 1][0];
    const int64_t step = tabAtuStep[k][1];
    int64_t slot = first + (static_cast<int64_t>(frequency) - start + step / 2) / step;
    if (end < static_cast<int64_t>(frequency))
        slot += 1;
    if (segStart)
        *segStart = static_cast<int32_t>(start);
    if (segEnd)
        *segEnd = static_cast<int32_t>(end);
    if (firstSlot)
        *firstSlot = first;
    if (endSlot)
        *endSlot = first + segmentSlots(k);
    return slot > INT32_MAX ? INT32_MAX : static_cast<int>(slot);
}

int32_t AtuFreqfromIdx(int slot)
{
    int first = 0;
    for (int k = 0; k <= lastSegment; ++k) {
        const int end = first + segmentSlots(k);
        if (slot <= end || k == lastSegment)
            return tabAtuStep[k][0] + (slot - first) * tabAtuStep[k][1];
        first = end;
    }
    return 0;
}

TuneMemEntry* tuneMemoryOf(Works* works, int antenna)
{
    return works->tuneMem[memoryIndex(antenna)];
}

void SaveTuneValsuTabRam(Works* works, const TuneMemEntry& entry, int slot, int antenna)
{
    if (slot < 0 || slot >= TUNE_SLOTS)
        return;
    std::lock_guard<std::mutex> lock(works->tuneMemMutex);
    tuneMemoryOf(works, antenna)[slot] = entry;
}

void LoadTuneValFromTabRam(Works* works, TuneMemEntry* out, int slot, int antenna)
{
    *out = TuneMemEntry{};
    if (slot < 0 || slot >= TUNE_SLOTS)
        return;
    {
        std::lock_guard<std::mutex> lock(works->tuneMemMutex);
        *out = tuneMemoryOf(works, antenna)[slot];
    }
    if (out->modo == TUNE_MODE_BYPASS)
        out->modo = TUNE_MODE_CL;
}

int SearchBestTune(Works* works, int slot, int from, int to, int antenna)
{
    std::lock_guard<std::mutex> lock(works->tuneMemMutex);
    const TuneMemEntry* memory = tuneMemoryOf(works, antenna);
    const int limit = to - from;
    int best = -1;
    int bestDistance = limit;
    for (int i = from < 0 ? 0 : from; i < to && i < TUNE_SLOTS; ++i) {
        if (!memory[i].present)
            continue;
        const int distance = i > slot ? i - slot : slot - i;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

int EsisteTuneValInTabRam(Works* works, int slot, int from, int to, int antenna)
{
    TuneMemEntry entry;
    LoadTuneValFromTabRam(works, &entry, slot, antenna);
    if (entry.present)
        return 0;
    return SearchBestTune(works, slot, from, to, antenna) < 0 ? 1 : 0;
}

void LoadTuneFromMEM(Works* works, int antenna)
{
    int firstSlot = 0;
    int endSlot = 0;
    int slot = AtuIdxSearch(works->frequency, nullptr, nullptr, &firstSlot, &endSlot);
    TuneMemEntry entry;
    LoadTuneValFromTabRam(works, &entry, slot, antenna);
    if (!entry.present) {
        slot = SearchBestTune(works, slot, firstSlot, endSlot, antenna);
        if (slot >= 0)
            LoadTuneValFromTabRam(works, &entry, slot, antenna);
    }
    works->capacita = DecodeCapacitaFromTuneval(works->tuneval);
    works->induttanza = DecodeInduttanzaFromTuneval(works->tuneval);
    works->modoTune = static_cast<uint8_t>(DecodeModoFromTuneval(works->tuneval));
    if (!entry.present || sameTune(entry, works->capacita, works->induttanza, works->modoTune))
        return;
    SetC(works, entry.capacita);
    SetI(works, entry.induttanza);
    SetMode(works, entry.modo);
    ReadTnePar(works);
    logErr(">>>>>>>>>>>>>>> MEMTUNE: load a Tune for %ld idx:%d -> C %d I %d!!\n",
           static_cast<long>(works->frequency.load()), slot, works->capacita.load(), works->induttanza.load());
}

void InsertTuneToMem(Works* works, int bank, int antenna)
{
    const int slot = AtuIdxSearch(works->frequency, nullptr, nullptr, nullptr, nullptr);
    logErr("--------------> Save Tune To File idx %d (idx:%d)\n", static_cast<int>(works->frequency), slot);
    TuneMemEntry entry;
    entry.present = 1;
    entry.modo = static_cast<uint8_t>(DecodeModoFromTuneval(works->tuneval));
    entry.induttanza = static_cast<uint16_t>(DecodeInduttanzaFromTuneval(works->tuneval));
    entry.capacita = static_cast<uint16_t>(DecodeCapacitaFromTuneval(works->tuneval));
    logErr("-------------- Save TuneVal C:%i, L:%i, M:%c\n", entry.capacita, entry.induttanza, '0' + entry.modo);
    SaveTuneValsuTabRam(works, entry, slot, antenna);
    SaveTabAtu(works, bank, antenna);
}

void GestioneLoadTuneVal(Works* works, int zeroIfMissing)
{
    if (works->tuneStatus != 0)
        return;
    int firstSlot = 0;
    int endSlot = 0;
    const int slot = AtuIdxSearch(works->frequency, nullptr, nullptr, &firstSlot, &endSlot);
    if (!EsisteTuneValInTabRam(works, slot, firstSlot, endSlot, works->antenna))
        IncPNTIn_CMDLinear(CMD_TUNE_RECALL, works);
    else
        IncPNTIn_CMDLinear(zeroIfMissing ? CMD_TUNE_ZERO : CMD_TUNE_BYPASS, works);
}

void WaitSemaforoTuneval(Works* works)
{
    works->tuneLock.lock();
}

void StopSemaforoTuneval(Works* works)
{
    works->tuneLock.unlock();
}
