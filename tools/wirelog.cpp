// wirelog: decodes a wire log of the amplifier link (simroot/sim/wire.log, or any saved
// copy): each frame with its command number and name, fields, CRC state and the gap since
// the frame before; at the end a summary of frames by command, CRC failures and the longest
// gap. "-" or no file reads standard input.
//
//   build/wirelog simroot/sim/wire.log
//   build/wirelog --problems simroot/sim/wire.log     (only bad CRCs, malformed frames, notes)
//
// Exit status: 0 when every frame checked out, 1 when a CRC or a frame was bad, 2 when the
// log cannot be read.
#include "wire_decode.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

namespace {

struct Summary {
    size_t frames = 0, notes = 0, badCrc = 0, malformed = 0, skipped = 0;
    double longestGapMs = 0;
    double longestGapAt = 0;
    std::map<std::string, size_t> byName;
};

void decodeStream(std::istream& in, bool problemsOnly, Summary& sum)
{
    sim::WireDecoder decoder;
    std::string line;
    while (std::getline(in, line)) {
        const std::optional<sim::DecodedFrame> f = decoder.line(line);
        if (!f) {
            if (!line.empty())
                ++sum.skipped;
            continue;
        }
        const bool problem = f->isNote || f->crc != sim::CrcState::Ok || !f->shapeOk;
        if (f->isNote) {
            ++sum.notes;
        } else {
            ++sum.frames;
            ++sum.byName[std::string(f->toBoard ? "> " : "< ") + f->name];
            if (f->crc != sim::CrcState::Ok)
                ++sum.badCrc;
            if (!f->shapeOk)
                ++sum.malformed;
            if (f->gapMs > sum.longestGapMs) {
                sum.longestGapMs = f->gapMs;
                sum.longestGapAt = f->t;
            }
        }
        if (!problemsOnly || problem)
            std::printf("%s\n", sim::formatDecoded(*f).c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    bool problemsOnly = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--problems") == 0) {
            problemsOnly = true;
        } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: wirelog [--problems] [WIRE_LOG|-]\n");
            return 0;
        } else if (!path) {
            path = argv[i];
        } else {
            std::fprintf(stderr, "usage: wirelog [--problems] [WIRE_LOG|-]\n");
            return 2;
        }
    }
    Summary sum;
    if (!path || std::strcmp(path, "-") == 0) {
        decodeStream(std::cin, problemsOnly, sum);
    } else {
        std::ifstream in(path);
        if (!in) {
            std::fprintf(stderr, "wirelog: cannot read %s: %s\n", path, std::strerror(errno));
            return 2;
        }
        decodeStream(in, problemsOnly, sum);
    }
    std::printf("-- %zu frames, %zu notes, %zu bad CRC, %zu malformed, %zu lines not of a wire log\n",
                sum.frames, sum.notes, sum.badCrc, sum.malformed, sum.skipped);
    if (sum.frames > 1)
        std::printf("-- longest gap %.1f ms (before the frame at %.6f)\n", sum.longestGapMs, sum.longestGapAt);
    for (const auto& [name, n] : sum.byName)
        std::printf("-- %6zu  %s\n", n, name.c_str());
    return sum.badCrc || sum.malformed ? 1 : 0;
}
