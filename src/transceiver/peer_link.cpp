#include "transceiver/peer_link.h"

#include <atomic>

namespace {

// Set once at start-up, read by the reader threads: each pointer on its own.
std::atomic<decltype(PeerLink::parameters)> parametersTo{nullptr};
std::atomic<decltype(PeerLink::spectrum)> spectrumTo{nullptr};
std::atomic<decltype(PeerLink::cat)> catTo{nullptr};
std::atomic<decltype(PeerLink::soundInterfaces)> soundInterfacesOf{nullptr};

} // namespace

void setPeerLink(const PeerLink& link)
{
    parametersTo = link.parameters;
    spectrumTo = link.spectrum;
    catTo = link.cat;
    soundInterfacesOf = link.soundInterfaces;
}

void peerParameters(Works* works, const unsigned char* data, size_t length)
{
    if (auto send = parametersTo.load())
        send(works, data, length);
}

void peerSpectrum(Works* works, const unsigned char* data, size_t length)
{
    if (auto send = spectrumTo.load())
        send(works, data, length);
}

void peerCat(Works* works, const unsigned char* data, size_t length)
{
    if (auto send = catTo.load())
        send(works, data, length);
}

int peerSoundInterfaces(Works* works)
{
    auto count = soundInterfacesOf.load();
    return count ? count(works) : 0;
}
