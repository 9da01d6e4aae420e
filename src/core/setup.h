#pragma once
// The setup record and setup.txt: one line per key, "key: value".
#include <cstddef>

struct Works;

// One slot per key. Switches and digits are single characters; text slots keep room for
// their terminating zero.
//
// Shared between threads: a switch is flipped by one thread while the thread it starts
// polls it (the remote group EnableWrite, EnableRead, EnableCAT, EnableFFT; enaser,
// enaCatSer, WebSocket, EnableLinear). Every one-character slot is therefore read and
// written in place as a relaxed atomic, through setupSwitch and setSetupSwitch (and so by
// readSetup and writeSetup). Text slots are written at start-up and by writeSetup, whose
// calls are serialised by a lock of their own.
struct Orvosetup {
    char EnableKeyb, EnableSpi, EnableTouch, DelayedTouch, EnableRead, EnableWrite, EnableCAT;
    char enaser;
    char EnableLinear, EnableTime, EnableGPIO, WebSocket;
    char Pitch[10];
    char Quality[4];
    char AudioIn[20];
    char EnableFFT;
    char fftMirror;
    char Enable1600;
    char Divide[3];
    char InChannels[2];
    char AudioCompress[10];
    char Multiplier[3];
    char AudioOut[20];
    char Server[16];
    char CatPort[13];
    char SerPort[13];
    char LinPort[13];
    char NumAntenna, EnablePwrPeak, TempMode, FreqSensIn;
    char FreqPeriodTime[5];
    char Attenuator, AttenuatorTune;
    char SWRescAutoTune[6];
    char ViewTimeStr, ViewTemp;
    char MaxTemperature[6];
    char MaxTemperature2[6];
    char AutoTuneMaxCicli, PowerUnits, SaveScreenIdx, AutoTuneMode;
    char MaxTempAllowed[6];
    char PSpar1[6], PSpar2[6], PSpar3[6], PSpar4[6];
    char Isteresi1, Isteresi2;
    char OffsetPlot[6];
    char enaCatSer;
    char CatSerialPort[13];
    char TUNEenabled[4];
    char NumBanco[4];
    char GMpar1[6], GMpar2[6];
    char Peak_media[6], Peak_ValDec[6], Peak_TimeDec[6], Peak_Time[6];
    char MAXbank[4];
    char BTN_longpress_Time[6];
    char EnableDebug, EnableLOGTemp;
    char AudioBuffers[6];
    char AutoTuneTipo;
    char CPUTempVentola[6];
    char CPUPercVentola[6];
    char end;  // stays zero
};

// Copies text into a slot, cut to the slot's width less its terminating zero.
void setSlot(char* slot, size_t width, const char* text);
template <size_t N> void setSlot(char (&slot)[N], const char* text) { setSlot(slot, N, text); }

// A one-character slot read or written as a relaxed atomic (see above).
char setupSwitch(const Orvosetup* s, char Orvosetup::* field);
void setSetupSwitch(Orvosetup* s, char Orvosetup::* field, char value);

// The remote-access password every unit starts with (peers of the field rely on it).
constexpr char REMOTE_DEFAULT_PASSWORD[] = "quintabrezza";

void initSetup(Works* works);
// Puts every value the setup file feeds back to a new record's (zero); initSetup then
// gives the start-up values, so a later writeSetup writes what a new unit writes.
void clearSetupValues(Works* works);
void readSetup(Works* works);
int writeSetup(Works* works);
