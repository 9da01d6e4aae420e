// Fuzzes the tuner file reader and the recall of a stored tune: only slots of the memory
// are written, every stored tune is one the tuner can be set to (network mode 0..3,
// inductance and capacitance 0..511), and a recall puts that tune on the tune word.
#include "amplifier/link.h"
#include "fuzz_support.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"
#include "tuner/tuner_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The input is antenna 1's file; the other two antennas' memories must stay untouched.
    fuzz::writeSettings("opt/set/atu_ant2.txt", data, size);
    auto works = fuzz::freshWorks();
    works->tuneMem[0][7] = TuneMemEntry{1, 1, 100, 200};
    works->tuneMem[2][4999] = TuneMemEntry{1, 2, 300, 400};
    LoadTabAtu(works.get(), 0, 1);

    if (works->tuneMem[0][7].induttanza != 100 || works->tuneMem[2][4999].capacita != 400)
        fuzz::fail("another antenna's memory changed");
    int present = 0;
    for (int slot = 0; slot < TUNE_SLOTS; ++slot) {
        const TuneMemEntry& e = works->tuneMem[1][slot];
        if (!e.present)
            continue;
        ++present;
        if (e.present != 1 || e.modo > 3 || e.induttanza > 511 || e.capacita > 511)
            fuzz::fail("slot %d: present %u mode %u L %u C %u", slot, e.present, e.modo, e.induttanza,
                       e.capacita);
    }

    // Recall at a few frequencies: a tune stored in the frequency's own slot must come back
    // on the tune word unchanged.
    works->antenna = 1;
    for (uint32_t f : {1800000u, 7050000u, 14200000u, 28500000u, 53990000u}) {
        works->frequency = f;
        works->tuneval = 0;
        LoadTuneFromMEM(works.get(), 1);
        const int slot = AtuIdxSearch(f, nullptr, nullptr, nullptr, nullptr);
        const TuneMemEntry& e = works->tuneMem[1][slot];
        if (present == 0 && works->tuneval != 0)
            fuzz::fail("an empty memory changed the tune word to %08x", works->tuneval.load());
        if (e.present && (DecodeInduttanzaFromTuneval(works->tuneval) != e.induttanza ||
                          DecodeCapacitaFromTuneval(works->tuneval) != e.capacita))
            fuzz::fail("slot %d holds L %u C %u, recalled as word %08x", slot, e.induttanza, e.capacita,
                       works->tuneval.load());
    }
    while (takeQueuedCmd(works.get()) >= 0) {
    }
    return 0;
}
