#pragma once
// Remote audio: the transceiver's audio captured from the USB sound interface and handed to
// the WebSocket sender block by block (th_leggi), and the peer's audio played on the same
// interface (th_scrivi owns the playback device, playRemoteAudio writes into it).
//
// A block is audioFrameSamples frames of interleaved two-channel 16-bit little-endian
// samples (audioFrameSamples x 4 bytes), or one Opus packet of such a block.
#include <cstddef>
#include <cstdint>

struct Works;
struct _snd_pcm;

// USB ID of the transceiver's sound interface (a C-Media device).
constexpr const char* AUDIO_IXO_USB_ID = "0d8c:01af";

// The capture thread: runs while "EnableRead" is '1'. Every end through a failure, or the
// sound interface found missing (checked every 2 s), goes through ExitAUDIOread.
void* th_leggi(void* arg);
// Reads every whole block of frames frames the capture device holds (at most a few at a
// time, so the thread keeps watching its switch) into block (frames x 4 bytes), widens mono
// to stereo and hands each block to the sender. Returns the blocks handed on, or the
// negative ALSA error of a read (an overrun the caller recovers from).
int MyCallback(Works* works, _snd_pcm* pcm, uint8_t* block, size_t frames);
// The playback thread: opens "AudioOut" and keeps it ready while a peer is connected;
// runs while "EnableWrite" is '1'. Failures and a missing sound interface (checked every
// 10 ms) end it through ExitAUDIOwrite.
void* th_scrivi(void* arg);

// Exit routines of the two threads: error 9 (capture) or 10 (playback) raised, the device
// closed when the thread had opened it, remoteThreadExited set for the error key's restart,
// the thread's switch turned off.
void ExitAUDIOread(Works* works);
void ExitAUDIOwrite(Works* works);

// The USB sound interface's identifiers (a C-Media device).
constexpr uint16_t SOUND_CARD_VENDOR = 0x0d8c;
constexpr uint16_t SOUND_CARD_PRODUCT = 0x01af;
// Number of attached USB devices with the sound interface's identifiers (the kernel's USB
// device list, countUsbDevices).
int VerifyAudioIXO(Works* works);
// Lines of "lsusb | grep 0d8c" (each printed to stderr); 0 on a pipe failure.
int Get_AudioIXO(Works* works);

// Plays one audio message received from the peer: an Opus packet decoded into playBuf
// (silence on a packet that does not decode), or raw samples copied when audio is
// uncompressed. Nothing happens while playback is off ("EnableWrite" not '1' or the device
// not ready). Returns 0 when played or dropped as described, -1 when the message does not
// fit the playback block (the caller ends that connection), -2 when the device refused the
// samples for another reason than an underrun.
int playRemoteAudio(Works* works, const unsigned char* data, size_t length);

// The mono capture block widened in place: frame k of the result holds mono sample k on
// both channels. block holds frames 16-bit samples on entry and frames x 4 bytes after.
void widenMonoToStereo(uint8_t* block, size_t frames);

// Where captured blocks go: the WebSocket sender, unless another receiver is set (the
// benchmarks and tests watch the blocks here). nullptr sets the sender back.
using AudioBlockSink = void (*)(Works* works, const unsigned char* block);
void setAudioBlockSink(AudioBlockSink sink);

// The Opus encoder and decoder of remote audio, made at start-up when "AudioCompress" is
// above 0 (48 kHz, two channels, the "audio" application, the bit rate of the setting). A
// failure is logged and leaves audio uncompressed (audioBitrate 0, no codec). Returns 0
// when the codecs exist or are not wanted, -1 on a failure.
int createAudioCodecs(Works* works);
// Frees whichever codec exists.
void destroyAudioCodecs(Works* works);
