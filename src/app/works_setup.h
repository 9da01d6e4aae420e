#pragma once
// The records the program runs on, built once: the works record and the records it points
// to (setup, transceiver parameters, spectrum) with their locks. main builds them this
// way, and so does every harness that drives the program's code without main (the fuzz
// targets), so that no code path meets a record start-up would have filled.
#include "core/setup.h"
#include "core/works.h"

#include <memory>
#include <mutex>

struct WorksRecords {
    Works works{};
    Orvosetup setup{};
    SerParam serPar{};
    SpectrumRecord spectrum{};
    std::mutex serMut, wsMut, sendMut;
};

// All records cleared, linked into works, the defaults set (InitGlobalVar) and the error
// table built. The framebuffer and the settings files are the caller's.
std::unique_ptr<WorksRecords> buildWorksRecords();
