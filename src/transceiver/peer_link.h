#pragma once
// What the transceiver's readers need of the remote link: the parameter frames, spectrum
// lines and CAT answers they hand on to the connected peer, and whether the transceiver's
// USB sound interface is plugged in. The remote subsystem installs its functions here at
// start-up (installPeerLink), so the dependency runs one way: remote/ uses transceiver/,
// never the reverse. Until then nothing is forwarded and no sound interface is seen.
#include <cstddef>

struct Works;

struct PeerLink {
    void (*parameters)(Works* works, const unsigned char* data, size_t length) = nullptr;  // "PA"
    void (*spectrum)(Works* works, const unsigned char* data, size_t length) = nullptr;    // "SP"
    void (*cat)(Works* works, const unsigned char* data, size_t length) = nullptr;         // "CA"
    int (*soundInterfaces)(Works* works) = nullptr;  // attached USB sound interfaces
};

void setPeerLink(const PeerLink& link);

void peerParameters(Works* works, const unsigned char* data, size_t length);
void peerSpectrum(Works* works, const unsigned char* data, size_t length);
void peerCat(Works* works, const unsigned char* data, size_t length);
int peerSoundInterfaces(Works* works);
