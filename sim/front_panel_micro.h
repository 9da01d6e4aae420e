#pragma once
// The front-panel micro-controller of the simulated unit, at pin level: it takes a command
// byte from the controller's two wires (data sampled at each falling clock edge, most
// significant bit first), then, once the controller has turned the data line into an input,
// puts a 12-bit reading on it, the next bit at each falling clock edge (most significant
// first). The reading answers the command's two low bits: 0 version, 1 12 V, 2 15 V,
// 3 amplifier supply (12-bit values; the controller keeps the low 8 bits).
//
// GpioBlockModel is the GPIO register block with this micro and six buttons behind it, in
// the controller's own process: a GpioPort that records every access, so a test can follow
// the exchange bit by bit. (The register file of a simulated root cannot carry the
// exchange across processes: set and clear writes 200 us apart cannot be observed reliably
// from another process, so there the micro is proven in-process.)
#include "platform/gpio.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace sim {

class FrontPanelMicro {
public:
    FrontPanelMicro();
    // The four readings (12 bits each) by the command's two low bits.
    void setReading(int slot, uint16_t value);
    uint16_t reading(int slot) const { return readings_[slot & 3]; }

    // The pins as the controller leaves them after a register write. hostDrivesData: the
    // data line is an output of the controller (dataLevel is then its level).
    void pins(bool clockLevel, bool hostDrivesData, bool dataLevel);
    // The level the micro puts on the data line while the controller reads.
    bool dataOut() const { return dataOut_; }
    // Every command byte received so far.
    const std::vector<uint8_t>& commands() const { return commands_; }

private:
    std::array<uint16_t, 4> readings_{};
    bool clock_ = false;
    bool replying_ = false;
    int bits_ = 0;
    uint8_t shift_ = 0;
    uint16_t reply_ = 0;
    bool dataOut_ = true;
    std::vector<uint8_t> commands_;
};

// One access of the register block, in order.
struct GpioAccess {
    enum Kind { Read, Write, Pause } kind;
    uint32_t offset;  // register (Read, Write)
    uint32_t value;   // value read or written; microseconds for Pause
};

class GpioBlockModel final : public GpioPort {
public:
    // realPauses: pauses take their time (a thread polling the block), else they are only
    // recorded.
    explicit GpioBlockModel(bool realPauses = false) : realPauses_(realPauses) {}
    uint32_t readReg(uint32_t offset) override;
    void writeReg(uint32_t offset, uint32_t value) override;
    void pauseMicros(int micros) override;

    // Button k (1..6) held down (its pin reads low) or released.
    void setButton(int key, bool down);
    FrontPanelMicro& micro() { return micro_; }
    // Function of a pin: 0 input, 1 output.
    int pinFunction(int pin) const;
    // The controller's output latch (levels it drives on its output pins).
    uint32_t outputLatch() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return latch_;
    }
    std::vector<GpioAccess> accesses() const;
    void clearAccesses();
    // The codes the micro received, copied under the block's lock (a thread may poll it).
    std::vector<uint8_t> microCommands() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return micro_.commands();
    }

private:
    uint32_t levels() const;
    void update();

    const bool realPauses_;
    mutable std::mutex mutex_;
    std::array<uint32_t, GPIO_BLOCK_BYTES / 4> regs_{};
    uint32_t latch_ = 0;
    uint32_t buttonsDown_ = 0;
    FrontPanelMicro micro_;
    std::vector<GpioAccess> accesses_;
};

} // namespace sim
