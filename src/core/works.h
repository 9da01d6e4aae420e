#pragma once
// The shared state record of the controller. main owns the one instance for the life of
// the process and hands a pointer to every thread. Each field has one writing thread as a
// rule; readers accept a value from a previous instant. The few locks are named below.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <vector>

#include "core/amp_tables.h"
#include "core/antenna_row.h"
#include "core/tune_types.h"

struct FrameBuffer;
struct Orvosetup;
struct SerParam;
struct SpectrumRecord;
struct OpusEncoder;
struct OpusDecoder;

constexpr const char* AMPCTL_VERSION = "0.060";
constexpr int CMD_QUEUE_SIZE = 30;
constexpr int ERROR_CODES = 25;

// One entry of the error table: flag bit 0 severe, bit 1 needs a bias reset,
// bit 2 temporary warning.
struct ErrorDescriptor {
    uint8_t flags = 0;
    char title[30] = {};
    char detail[30] = {};
};

// The transceiver parameter record is filled by the transceiver link; until then it only
// carries the fields main and the screen loop read.
struct SerParam {
    uint32_t frequency = 0;
    int32_t txFlag = 0;  // 1 while the transceiver transmits
    int32_t anReq = 0;   // the amplifier "AN" state the transceiver asks for
};

// Spectrum lines shared by the receiver stream and the screen: a small header and two
// arrays of 1024 values.
struct SpectrumRecord {
    int32_t header[16] = {};
    int32_t line[1024] = {};
    int32_t peak[1024] = {};
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
    int32_t linFD = 0;
    int32_t serFD = 0;
    int32_t catSerFD = 0;
    int32_t catFD = 0;

    // Fatal error shown full screen: 0 none, 1 amplifier port, 2 CAT port
    std::atomic<int32_t> fatalError{0};
    char fatalErrorText[100] = {};

    // Amplifier link. The queue is written by any thread and read by the link thread;
    // cmdQueueMutex guards both indexes and the entries.
    std::mutex cmdQueueMutex;
    uint32_t cmdQueue[CMD_QUEUE_SIZE] = {};
    uint32_t cmdQueueIn = 0;
    uint32_t cmdQueueOut = 0;
    std::atomic<uint8_t> cmdBurst{0};
    uint32_t lastCmd = 0;
    char lastCmdLetters[2] = {};
    uint32_t retryCount = 0;
    uint32_t retryTotal = 0;
    uint32_t retryStops = 0;
    std::atomic<int32_t> retryErrHold{0};
    uint32_t cmdRefused = 0;  // commands refused because the queue was full

    // Amplifier identity and measurements
    uint8_t ampEE2a = 0;
    uint8_t ampModel = 0;
    uint8_t ampEE0[32] = {};  // identity block 0 ("ER0000;")
    uint8_t ampEE1[32] = {};  // identity block 1 ("ER0001;")
    char microVersion[8] = {};
    uint8_t statoAmp[3] = {};
    uint16_t rawIn = 0;
    uint16_t rawFwd = 0;
    uint16_t rawRefl = 0;
    uint16_t rawCurrent = 0;
    uint16_t rawTemp1 = 0;
    uint16_t rawTemp2 = 0;
    uint16_t rawVoltage = 0;
    float pwrIn = 0;
    float pwrFwd = 0;
    float pwrRefl = 0;
    float pwrPeak = 0;
    float swr = 0;
    float temp1 = 0;
    float temp2 = 0;
    uint32_t freqMeasured = 0;
    char impostazioniGenerali[11] = {};
    char ampErrText[32] = {};
    uint8_t microReset = 0;
    uint8_t tuState = 0;

    // Operating point
    uint32_t frequency = 0;
    uint32_t lastFrequency = 0;
    int32_t antenna = 0;
    int32_t anState = 0;
    int32_t attenuator = 0;
    int32_t attenuatorSel = 0;
    int32_t attenuatorTune = 0;
    uint8_t ampBypass = 0;
    uint8_t bypassReq = 0;
    int32_t interfaceMode = 0;
    int32_t numBanco = 0;
    int32_t maxBank = 0;
    int32_t antennaRows = 0;
    int32_t antennaRowIdx = 0;
    int32_t sfValue = 0;
    int32_t freqSensIn = 0;
    int32_t freqPeriodTime = 0;
    uint32_t svcFlags = 0;

    // Tuner
    uint32_t tuneval = 0;
    uint8_t atuBypass = 0;
    int32_t tuneStatus = 0;
    int32_t capacita = 0;
    int32_t induttanza = 0;
    std::mutex tuneLock;

    // Thermal and fan
    int32_t fanPercent = 0;
    int32_t fanPercentOld = 0;
    int32_t fanPercentCPU = 0;
    int32_t fanPercentCPUOld = 0;
    int32_t fanPercentSent = 0;
    uint8_t fanCmdPending = 0;
    float cpuTemp1 = 0;
    float cpuTemp2 = 0;
    int32_t cpuTempVentola = 0;
    int32_t cpuPercVentola = 0;
    float maxTemperature = 0;
    float maxTemperature2 = 0;
    int32_t maxTempAllowed = 0;
    int32_t isteresi1 = 0;
    int32_t isteresi2 = 0;
    int32_t tempMode = 0;
    int32_t enableLogTemp = 0;
    int32_t logTempRemoved = 0;
    int32_t tsPar[4] = {};
    int32_t thresholdRow = 0;

    // Error list: codes in the order they were added, each at most once; errMutex guards
    // errList, errCount and the detail texts of errTable.
    std::mutex errMutex;
    int32_t errList[ERROR_CODES] = {};
    int32_t errCount = 0;
    ErrorDescriptor errTable[ERROR_CODES] = {};
    uint8_t errFlags = 0;
    int32_t errResend = 0;
    uint8_t cpFlag = 0;

    // Values taken from the setup file
    int32_t audioBitrate = 0;
    int32_t enablePwrPeak = 0;
    float swrEscAutoTune = 0;
    int32_t viewTimeStr = 0;
    int32_t viewTemp = 0;
    int32_t autoTuneMaxCicli = 0;
    int32_t powerUnits = 0;
    int32_t saveScreenIdx = 0;
    int32_t autoTuneMode = 0;
    int32_t divideSetting = 0;
    int32_t psPar[4] = {};
    int32_t gmPar1 = 0;
    int32_t gmPar2 = 0;
    double offsetPlot = 0;
    uint8_t tuneEnabled = 0;
    int32_t enableDebug = 0;

    // Screen and menu state
    int32_t timerPeriodUs = 0;
    int32_t screenPage = 0;
    int32_t pageIdx = 0;
    int32_t tabCol = 0;
    int32_t spanHz = 0;
    uint8_t reloadImg = 0;
    char imgName[32] = {};
    int32_t imgX = 0;
    int32_t imgY = 0;
    std::atomic<uint8_t> tinyCmd{0};
    uint8_t tinyCmdActive = 0;
    uint8_t vadcRaw = 0;  // amplifier supply reading of the front-panel micro
    int32_t tinyPollIdx = 0;    // rotation 0..3 of the front-panel micro's poll codes
    int32_t tinyPollDelay = 0;  // button polls until the next exchange with the micro
    // Replies of the front-panel micro: version, 12 V, 15 V and amplifier voltage readings.
    std::atomic<uint8_t> supply[4] = {};
    std::atomic<uint32_t> msgFlags{0};      // bit 0 second-function notice, bit 1 bypass-not-saved notice
    std::atomic<uint8_t> screenSaverOn{0};  // 1 while the screen saver blanks the panel
    // Written by the key handler (button thread), read by the screen loop.
    std::atomic<uint8_t> statusView{0};  // bit 0 status page, bit 1 bank table page, bit 2 filter page
    std::atomic<int32_t> menuIdx{0};     // current settings item 0..31
    std::atomic<int32_t> menuSub{0};     // label slot of the current item
    std::atomic<int32_t> menuCount{0};   // settings items (32 once the menu is built)
    std::atomic<int32_t> tabRow{0};      // selected row of the bank table page
    std::atomic<uint8_t> manualTune{0};  // manual tuning active on the tune bar
    std::atomic<int32_t> saveBank{0};    // bank and antenna the save bar stores a tune into
    std::atomic<int32_t> saveAnt{0};
    std::atomic<int32_t> copyFrom{0};    // banks of the copy bar
    std::atomic<int32_t> copyTo{0};
    std::atomic<int32_t> resetBank{0};   // bank of the reset bar; maxBank means every bank
    std::atomic<int32_t> divX{16};       // spectrum divisions across: 16 (160 kHz) or 8 (80 kHz)
    std::atomic<int32_t> xRangeEnd{854}; // spectrum entries across the grid: 854 or 427
    // Frequency of the FT-817 follower, Hz (written by the follower, read by the screen loop).
    std::atomic<uint32_t> catSerFreq{0};
    // Meters: needle angles in radians (live and peak, left and right). The key handler
    // resets the right peak angle when the view changes; everything else is the screen
    // loop's own.
    std::atomic<float> angFwd{0}, angAux{0}, angFwdPk{0}, angAuxPk{0};
    int32_t pkFwdHoldMs = 0;  // left peak: remaining hold time, held value, decay frame count
    float pkFwd = 0;
    int32_t pkFwdCnt = 0;
    int32_t pkAuxHoldMs = 0;  // right peak: the same
    float pkAux = 0;
    int32_t pkAuxCnt = 0;
    std::atomic<int32_t> tuneHoldFrames{0};  // frames that still delay a transmit-triggered tune
    double logTempMs = 0;                    // time gathered toward the next temperature record
    char dateTimeStr[80] = {};               // "%Y-%m-%d %H:%M:%S", the screen loop's own

    // Remote operation
    int32_t wsSock = 0;
    uint8_t wsConnected = 0;
    char remotePassword[13] = {};
    char serverAddr[16] = {};
    int16_t tcpPort = 0;
    uint8_t remoteActive = 0;
    std::atomic<uint8_t> remoteThreadExited{0};
    int32_t audioFrameSamples = 0;
    int32_t audioFormat = 0;
    int32_t audioRate = 0;
    int32_t audioBuffers = 0;

    // Network
    char lanConnection[32] = {};  // name of the network connection, "No Conn" when none

    // Tuner and banks: network mode, tune memories, automatic tuning, antenna table
    uint8_t modoTune = 0;
    TuneMemEntry tuneMem[TUNE_ANTENNAS][TUNE_SLOTS] = {};
    int32_t tuneStep = 0;
    int32_t fineTuneOk = 0;
    int32_t txOn = 0;
    int32_t recMode = 0;
    int32_t recCount = 0;
    float recSwr[REC_SWR_SIZE] = {};
    int32_t passCount = 0;
    int32_t stepCountC = 0;
    int32_t stepCountL = 0;
    AntennaRow antennaTable[ANT_ROWS] = {};

    // Amplifier control: band, filter and fan tables, identity blocks, threshold state
    std::vector<ConfigRow> configRows;     // config.txt, loaded once at start-up
    int32_t configRowCount = 0;
    FilterRow filterTable[FILTER_ROWS] = {};
    int32_t filterIdx = 0;                 // row the front-panel filter editor points at
    std::vector<VentolaRow> ventolaRows;   // ventola.txt, loaded once at start-up
    int32_t ventolaRowCount = 0;
    uint8_t thresholdDefaults = 0;         // 1 while the default thresholds are in force
    std::atomic<uint8_t> tuneHold{0};      // manual-carrier flags (bit 4 AN sent, bit 5 AN answered)
};

// Globals set by InitGlobalVar and the setup file.
extern double TIME_LONG_PRESS;
extern int number_ofStep_meter_FWD;
extern int number_ofStep_meter_REFL;
extern int number_ofStep_meter_SWR;
extern int number_ofStep_meter_PW;
extern int fattoremedia;
extern double PeakDecrement;
extern int PeakDecrementTime;
extern int TimerPeakSec;
extern int StepTune1;
extern int CntIP, CntDNS, CntNetMask, CntGateway;

// Puts every field of the start-up table back to its start value; returns works.
Works* InitGlobalVar(Works* works);
// Posts a code to the front-panel mailbox: waits until it is empty, then stores the code.
void postTinyCmd(Works* works, uint8_t code);
