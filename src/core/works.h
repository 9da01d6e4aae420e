#pragma once
// The shared state record of the controller. main owns the one instance for the life of
// the process and hands a pointer to every thread. Each field has one writing thread as a
// rule; readers accept a value from a previous instant.
//
// How the threads share it (the suite runs clean under ThreadSanitizer; keep it so):
// - a scalar field another thread may read or write is Relaxed<T> (core/relaxed.h), a
//   std::atomic whose plain accesses are relaxed; std::atomic with its default order where
//   one value publishes others (tuneStatus, running); pass .load() to printf-style calls;
// - a record, array or text shared between threads is read and written under the mutex
//   named where it is declared, and readers take a copy;
// - fields without either are set before the threads start (the band, filter, fan and
//   antenna tables, the version and the remote settings), or are written and read by one
//   thread only so far (the link thread: the reply texts, identity blocks, recSwr and
//   lastCmdLetters). A thread that comes to read
//   or change one of them brings it under a lock of its own, declared here.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "core/amp_tables.h"
#include "core/antenna_row.h"
#include "core/relaxed.h"
#include "core/tune_types.h"

struct FrameBuffer;
struct Orvosetup;
struct SerParam;
struct SpectrumRecord;
struct OpusEncoder;
struct OpusDecoder;
struct _snd_pcm;

constexpr const char* AMPCTL_VERSION = "0.060";
constexpr int CMD_QUEUE_SIZE = 30;
constexpr int ERROR_CODES = 25;
constexpr int TUNE_REQUESTS = 4;  // starts and ends of a tune waiting for the link thread

// One entry of the error table: flag bit 0 severe, bit 1 needs a bias reset,
// bit 2 temporary warning.
struct ErrorDescriptor {
    uint8_t flags = 0;
    char title[30] = {};
    char detail[30] = {};
};

// The transceiver's parameter record: 52 signed 32-bit slots in the order the transceiver
// link fills them (slot 21 is never written). A negative value in a level slot (sqlLevel,
// nrLevel, nbLevel, attLevel, lpLevel, anLevel, volLevel, volAuxLevel, volSideLevel) means
// off, with the last level equal to minus that value. Guarded by serMut; readers take a copy
// (getParameters).
struct SerParam {
    int32_t stat6 = 0;      // 0
    int32_t vfoB = 0;       // 1: VFO B is the active VFO
    int32_t freqOfB = 0;    // 2: the frequency of the frame belongs to VFO B
    int32_t frequency = 0;  // 3: operating frequency, Hz
    int32_t freqRaw = 0;    // 4
    int32_t freqA = 0;      // 5
    int32_t freqB = 0;      // 6
    int32_t freqM = 0;      // 7
    int32_t freqPrev = 0;   // 8
    int32_t freqLast = 0;   // 9
    int32_t txFlag = 0;     // 10: 1 while the transceiver transmits
    int32_t st9b5 = 0;      // 11
    int32_t st9b4 = 0;      // 12
    int32_t mode = 0;       // 13
    int32_t modeRaw = 0;    // 14
    int32_t modeA = 0;      // 15
    int32_t modeB = 0;      // 16
    int32_t audioSel = 0;   // 17
    int32_t sw3 = 0;        // 18
    int32_t sw2 = 0;        // 19
    int32_t sw1 = 0;        // 20
    int32_t unused21 = 0;   // 21
    int32_t sw0 = 0;        // 22
    int32_t sqlLevel = 0;   // 23
    int32_t flt2 = 0;       // 24
    int32_t fltHi = 0;      // 25
    int32_t fltLo = 0;      // 26
    int32_t fltMid = 0;     // 27
    int32_t fltIdx = 0;     // 28
    int32_t nrLevel = 0;    // 29
    int32_t nbLevel = 0;    // 30
    int32_t st13b5 = 0;     // 31
    int32_t st13b4 = 0;     // 32
    int32_t sel16 = 0;      // 33
    int32_t sel17 = 0;      // 34
    int32_t sel18 = 0;      // 35
    int32_t sel19a = 0;     // 36
    int32_t sel19b = 0;     // 37
    int32_t attLevel = 0;   // 38
    int32_t lpLevel = 0;    // 39
    int32_t anLevel = 0;    // 40
    int32_t sw20 = 0;       // 41
    int32_t volLevel = 0;   // 42
    int32_t volAuxLevel = 0;  // 43
    int32_t volSideLevel = 0; // 44
    int32_t shift12 = 0;    // 45
    int32_t level21 = 0;    // 46
    int32_t shift20 = 0;    // 47
    int32_t anReq = 0;      // 48: the amplifier "AN" state the transceiver asks for
    int32_t st11b4 = 0;     // 49
    int32_t freqOfM = 0;    // 50: the frequency of the frame is the memory channel's
    int32_t stat32 = 0;     // 51
};
static_assert(sizeof(SerParam) == 52 * sizeof(int32_t));

// Entries of a spectrum line across the plot; index 427 is the operating frequency.
constexpr int SPECTRUM_ENTRIES = 854;
// The transceiver's latest spectrum line in dB, written by the transceiver link under serMut
// (entries past SPECTRUM_ENTRIES stay at the floor); readers take a copy under the same lock.
struct SpectrumRecord {
    float trace[1024] = {};
};

struct Works {
    // Life cycle and identity
    std::atomic<uint32_t> running{0};
    char versione[20] = {};
    std::atomic<int64_t> lastActivity{0};  // monotonic ms of the last key press (screen saver)
    std::atomic<uint8_t> startupDone{0};

    // Records owned by main
    FrameBuffer* fb = nullptr;
    Orvosetup* setup = nullptr;
    SerParam* serPar = nullptr;
    std::mutex* serMut = nullptr;
    std::mutex* wsMut = nullptr;
    std::mutex* sendMut = nullptr;
    SpectrumRecord* spectrum = nullptr;
    OpusEncoder* opusEnc = nullptr;
    OpusDecoder* opusDec = nullptr;

    // Port descriptors (-1 or open)
    Relaxed<int32_t> linFD;
    Relaxed<int32_t> serFD;
    Relaxed<int32_t> catSerFD;
    Relaxed<int32_t> catFD;

    // Fatal error shown full screen: 0 none, 1 amplifier port, 2 CAT port. The text is
    // written and read under fatalErrorMutex (setFatalError, fatalErrorMessage).
    std::atomic<int32_t> fatalError{0};
    char fatalErrorText[100] = {};
    std::mutex fatalErrorMutex;

    // Amplifier link. The queue is written by any thread and read by the link thread;
    // cmdQueueMutex guards both indexes and the entries.
    std::mutex cmdQueueMutex;
    uint32_t cmdQueue[CMD_QUEUE_SIZE] = {};
    uint32_t cmdQueueIn = 0;
    uint32_t cmdQueueOut = 0;
    std::atomic<uint8_t> cmdBurst{0};
    Relaxed<uint32_t> lastCmd;
    char lastCmdLetters[2] = {};
    Relaxed<uint32_t> retryCount;
    Relaxed<uint32_t> retryTotal;
    Relaxed<uint32_t> retryStops;
    std::atomic<int32_t> retryErrHold{0};
    Relaxed<uint32_t> cmdRefused;  // commands refused because the queue was full

    // Amplifier identity and measurements
    Relaxed<uint8_t> ampEE2a;
    Relaxed<uint8_t> ampModel;
    // The identity texts are written by the link thread and read by the screen and the
    // network servers: under identityMutex (writers), readers take a copy (ampIdentity).
    std::mutex identityMutex;
    uint8_t ampEE0[32] = {};  // identity block 0 ("ER0000;")
    uint8_t ampEE1[32] = {};  // identity block 1 ("ER0001;")
    char microVersion[8] = {};
    Relaxed<uint8_t> statoAmp[3] = {};
    Relaxed<uint16_t> rawIn;
    Relaxed<uint16_t> rawFwd;
    Relaxed<uint16_t> rawRefl;
    Relaxed<uint16_t> rawCurrent;
    Relaxed<uint16_t> rawTemp1;
    Relaxed<uint16_t> rawTemp2;
    Relaxed<uint16_t> rawVoltage;
    Relaxed<float> pwrIn;
    Relaxed<float> pwrFwd;
    Relaxed<float> pwrRefl;
    Relaxed<float> pwrPeak;
    Relaxed<float> swr;
    Relaxed<float> temp1;
    Relaxed<float> temp2;
    Relaxed<uint32_t> freqMeasured;
    char impostazioniGenerali[11] = {};  // link thread only
    // Bit 1 of the second character of the board's general settings as it last reported
    // them: RX and TX on the coax input (shown by the status strip).
    Relaxed<uint8_t> coaxRxTx{0};
    char ampErrText[32] = {};
    Relaxed<uint8_t> microReset;
    Relaxed<uint8_t> tuState;

    // Operating point
    Relaxed<uint32_t> frequency;
    Relaxed<uint32_t> lastFrequency;
    Relaxed<int32_t> antenna;
    Relaxed<int32_t> anState;
    Relaxed<int32_t> attenuator;
    Relaxed<int32_t> attenuatorSel;
    Relaxed<int32_t> attenuatorTune;
    Relaxed<uint8_t> ampBypass;
    Relaxed<uint8_t> bypassReq;
    Relaxed<int32_t> interfaceMode;
    Relaxed<int32_t> numBanco;
    Relaxed<int32_t> maxBank;
    Relaxed<int32_t> antennaRows;
    Relaxed<int32_t> antennaRowIdx;
    Relaxed<int32_t> sfValue;
    Relaxed<int32_t> freqSensIn;
    Relaxed<int32_t> freqPeriodTime;
    // Service switches: bit 0 firmware update armed (front-panel LED low), bit 1 remote
    // service, bit 2 board in firmware update, bit 3 interface update.
    Relaxed<uint32_t> svcFlags;

    // Tuner
    Relaxed<uint32_t> tuneval;
    Relaxed<uint8_t> atuBypass;
    // Default (sequentially consistent) order: a thread that sees the end of a run (0) also
    // sees its results (the best record, the tune memory).
    std::atomic<int32_t> tuneStatus{0};
    Relaxed<int32_t> capacita;
    Relaxed<int32_t> induttanza;
    std::mutex tuneLock;
    // Starts and ends of an automatic tune asked for by any thread, oldest first, for the
    // link thread to carry out; tuneLock guards both fields.
    int8_t tuneRequests[TUNE_REQUESTS] = {};
    int32_t tuneRequestCount = 0;

    // Thermal and fan
    Relaxed<int32_t> fanPercent;
    Relaxed<int32_t> fanPercentOld;
    Relaxed<int32_t> fanPercentCPU;
    Relaxed<int32_t> fanPercentCPUOld;
    Relaxed<int32_t> fanPercentSent;
    Relaxed<uint8_t> fanCmdPending;
    Relaxed<float> cpuTemp1;
    Relaxed<float> cpuTemp2;
    Relaxed<int32_t> cpuTempVentola;
    Relaxed<int32_t> cpuPercVentola;
    Relaxed<float> maxTemperature;
    Relaxed<float> maxTemperature2;
    Relaxed<int32_t> maxTempAllowed;
    Relaxed<int32_t> isteresi1;
    Relaxed<int32_t> isteresi2;
    Relaxed<int32_t> tempMode;
    Relaxed<int32_t> enableLogTemp;
    Relaxed<int32_t> logTempRemoved;
    Relaxed<int32_t> tsPar[4] = {};
    Relaxed<int32_t> thresholdRow;

    // Error list: codes in the order they were added, each at most once; errMutex guards
    // errList, errCount and the detail texts of errTable.
    std::mutex errMutex;
    int32_t errList[ERROR_CODES] = {};
    int32_t errCount = 0;
    ErrorDescriptor errTable[ERROR_CODES] = {};
    Relaxed<uint8_t> errFlags;
    Relaxed<int32_t> errResend;
    Relaxed<uint8_t> cpFlag;

    // Values taken from the setup file
    Relaxed<int32_t> audioBitrate;
    Relaxed<int32_t> enablePwrPeak;
    Relaxed<float> swrEscAutoTune;
    Relaxed<int32_t> viewTimeStr;
    Relaxed<int32_t> viewTemp;
    Relaxed<int32_t> autoTuneMaxCicli;
    Relaxed<int32_t> powerUnits;
    Relaxed<int32_t> saveScreenIdx;
    Relaxed<int32_t> autoTuneMode;
    Relaxed<int32_t> divideSetting;
    Relaxed<int32_t> psPar[4] = {};
    Relaxed<int32_t> gmPar1;
    Relaxed<int32_t> gmPar2;
    Relaxed<double> offsetPlot;
    Relaxed<uint8_t> tuneEnabled;
    Relaxed<int32_t> enableDebug;

    // Screen and menu state
    Relaxed<int32_t> timerPeriodUs;
    Relaxed<int32_t> screenPage;
    Relaxed<int32_t> pageIdx;
    Relaxed<int32_t> tabCol;
    Relaxed<int32_t> spanHz;
    Relaxed<uint8_t> reloadImg;
    char imgName[32] = {};
    Relaxed<int32_t> imgX;
    Relaxed<int32_t> imgY;
    std::atomic<uint8_t> tinyCmd{0};
    Relaxed<uint8_t> tinyCmdActive;
    Relaxed<int32_t> tinyPollIdx;    // rotation 0..3 of the front-panel micro's poll codes
    Relaxed<int32_t> tinyPollDelay;  // button polls until the next exchange with the micro
    // Replies of the front-panel micro: version, 12 V, 15 V and amplifier voltage readings.
    std::atomic<uint8_t> supply[4] = {};
    std::atomic<uint32_t> msgFlags{0};      // bit 0 second-function notice, bit 1 bypass-not-saved notice
    std::atomic<uint8_t> screenSaverOn{0};  // 1 while the screen saver blanks the panel
    // Written by the key handler (button thread), read by the screen loop.
    Relaxed<uint8_t> statusView{0};  // bit 0 status page, bit 1 bank table page, bit 2 filter page
    Relaxed<int32_t> menuIdx{0};     // current settings item 0..31
    Relaxed<int32_t> menuSub{0};     // label slot of the current item
    Relaxed<int32_t> menuCount{0};   // settings items (32 once the menu is built)
    Relaxed<int32_t> tabRow{0};      // selected row of the bank table page
    Relaxed<uint8_t> manualTune{0};  // manual tuning active on the tune bar
    Relaxed<int32_t> saveBank{0};    // bank and antenna the save bar stores a tune into
    Relaxed<int32_t> saveAnt{0};
    Relaxed<int32_t> copyFrom{0};    // banks of the copy bar
    Relaxed<int32_t> copyTo{0};
    Relaxed<int32_t> resetBank{0};   // bank of the reset bar; maxBank means every bank
    Relaxed<uint8_t> factoryArmed{0};  // settings item "FACTORY DEFAULT" confirmed (armed)
    Relaxed<uint8_t> filterView{0};    // settings item "FILTER SETTINGS View": the filter page's switch
    Relaxed<int32_t> divX{16};       // spectrum divisions across: 16 (160 kHz) or 8 (80 kHz)
    Relaxed<int32_t> xRangeEnd{854}; // spectrum entries across the grid: 854 or 427
    // Frequency of the FT-817 follower, Hz (written by the follower, read by the screen loop).
    Relaxed<uint32_t> catSerFreq{0};
    // Meters: needle angles in radians (live and peak, left and right). The key handler
    // resets the right peak angle when the view changes; everything else is the screen
    // loop's own.
    Relaxed<float> angFwd{0}, angAux{0}, angFwdPk{0}, angAuxPk{0};
    int32_t pkFwdHoldMs = 0;  // left peak: remaining hold time, held value, decay frame count
    float pkFwd = 0;
    int32_t pkFwdCnt = 0;
    int32_t pkAuxHoldMs = 0;  // right peak: the same
    float pkAux = 0;
    int32_t pkAuxCnt = 0;
    Relaxed<int32_t> tuneHoldFrames{0};  // frames that still delay a transmit-triggered tune
    double logTempMs = 0;                    // time gathered toward the next temperature record
    char dateTimeStr[80] = {};               // "%Y-%m-%d %H:%M:%S", the screen loop's own

    // Remote operation
    Relaxed<int32_t> wsSock;
    Relaxed<uint8_t> wsConnected;
    // The remote password: written at start-up and again by the factory default while the
    // link threads may read it; under remotePasswordMutex, readers copy (remotePasswordText).
    char remotePassword[13] = {};
    std::mutex remotePasswordMutex;
    char serverAddr[16] = {};
    Relaxed<int16_t> tcpPort;
    Relaxed<uint8_t> remoteActive;
    std::atomic<uint8_t> remoteThreadExited{0};
    Relaxed<int32_t> audioFrameSamples;
    Relaxed<int32_t> audioFormat;
    Relaxed<int32_t> audioRate;
    Relaxed<int32_t> audioBuffers;
    Relaxed<int32_t> inChannels;
    // Remote audio. pcmIn belongs to the capture thread. The playback device is opened and
    // closed by the playback thread while the thread that receives the peer's audio writes
    // to it: audioOutMutex guards pcmOut, playBuf and the queue figures (playFree1,
    // playMinFree); audioOutOn says, without the lock, whether playback is possible at all.
    _snd_pcm* pcmIn = nullptr;
    std::mutex audioOutMutex;
    _snd_pcm* pcmOut = nullptr;
    std::vector<uint8_t> playBuf;
    long playFree1 = 0;
    long playMinFree = 0;
    Relaxed<uint8_t> audioOutOn;
    // The last command text of an "ST" message; written and read by the remote connection's
    // thread only (server or client, never both).
    char wsCmd[200] = {};
    // A bank change asked for by the remote peer: the antenna table is replaced by the screen
    // loop, the thread that reads it every frame (or at once when that loop does not run).
    std::atomic<uint8_t> bankChangeAsked{0};
    // A frequency asked for by station software (Hz, 0 for none): the band change it needs is
    // made by the screen loop, the thread that follows the frequency every frame.
    std::atomic<uint32_t> frequencyAsked{0};

    // Network: the name of the network connection, "No Conn" when none; written by the
    // network-name thread, drawn by the screen loop: under lanConnectionMutex, readers copy
    // (lanConnectionName).
    char lanConnection[32] = {};
    std::mutex lanConnectionMutex;

    // Tuner and banks: network mode, tune memories, automatic tuning, antenna table
    Relaxed<uint8_t> modoTune;
    TuneMemEntry tuneMem[TUNE_ANTENNAS][TUNE_SLOTS] = {};
    // Guards tuneMem: the link stores and recalls tunes while bank loads and the screen's
    // look-ups run in other threads. Taken after tuneLock where both are held.
    std::mutex tuneMemMutex;
    Relaxed<int32_t> tuneStep;
    Relaxed<int32_t> fineTuneOk;
    Relaxed<int32_t> txOn;
    Relaxed<int32_t> recMode;
    Relaxed<int32_t> recCount;
    float recSwr[REC_SWR_SIZE] = {};
    Relaxed<int32_t> passCount;
    Relaxed<int32_t> stepCountC;
    Relaxed<int32_t> stepCountL;
    // The current bank's antenna table. Rows are changed by the key handler (table page,
    // bank loads) and read by the screen loop and the network servers: under
    // antennaTableMutex.
    AntennaRow antennaTable[ANT_ROWS] = {};
    std::mutex antennaTableMutex;

    // Amplifier control: band, filter and fan tables, identity blocks, threshold state
    std::vector<ConfigRow> configRows;     // config.txt, loaded once at start-up
    Relaxed<int32_t> configRowCount;
    FilterRow filterTable[FILTER_ROWS] = {};
    Relaxed<int32_t> filterIdx;            // row the front-panel filter editor points at
    std::vector<VentolaRow> ventolaRows;   // ventola.txt, loaded once at start-up
    Relaxed<int32_t> ventolaRowCount;
    Relaxed<uint8_t> thresholdDefaults;    // 1 while the default thresholds are in force
    std::atomic<uint8_t> tuneHold{0};      // manual-carrier flags (bit 4 AN sent, bit 5 AN answered)
};

// Globals set by InitGlobalVar and the setup file.
// Written by readSetup (also from the settings pages' factory default) and the settings
// editor in the button thread, read by the button reader and the meters: relaxed atomics.
extern Relaxed<double> TIME_LONG_PRESS;
// Meter scales: set by InitGlobalVar (also from the settings pages' factory default) and
// the link thread, read by the screen loop.
extern Relaxed<int> number_ofStep_meter_FWD;
extern Relaxed<int> number_ofStep_meter_REFL;
extern Relaxed<int> number_ofStep_meter_SWR;
extern Relaxed<int> number_ofStep_meter_PW;
extern Relaxed<int> fattoremedia;
extern Relaxed<double> PeakDecrement;
extern Relaxed<int> PeakDecrementTime;
extern Relaxed<int> TimerPeakSec;
extern int StepTune1;

// Puts every field of the start-up table back to its start value; returns works.
Works* InitGlobalVar(Works* works);
// Shows a fatal error: its text (cut to the slot), then its code.
void setFatalError(Works* works, int32_t code, const char* text);
// A copy of the fatal error's text.
std::string fatalErrorMessage(Works* works);
// A copy of the network connection's name.
std::string lanConnectionName(Works* works);
// A copy of the remote password.
std::string remotePasswordText(Works* works);
// A copy of the amplifier's identity blocks and firmware version, taken under identityMutex.
struct AmpIdentity {
    uint8_t ee0[32] = {};
    uint8_t ee1[32] = {};
    char microVersion[8] = {};
};
AmpIdentity ampIdentity(Works* works);
// Posts a code to the front-panel mailbox: waits until it is empty, then stores the code.
// On the mailbox's reader (the button thread) the code is queued for the reader instead.
void postTinyCmd(Works* works, uint8_t code);
// Makes the calling thread the mailbox's reader (the button thread).
void becomeTinyReader();
// The reader's next code to exchange: the mailbox's, else the oldest it posted itself;
// 0 when there is none.
uint8_t takeTinyCmd(Works* works);
