#include "front_panel_micro.h"

#include <chrono>
#include <thread>

namespace sim {

namespace {
constexpr int DATA_PIN = 4;
constexpr int CLOCK_PIN = 6;
constexpr int FIRST_BUTTON_PIN = 22;
constexpr int REPLY_BITS = 12;
} // namespace

FrontPanelMicro::FrontPanelMicro()
{
    // Firmware 2.3, 12.1 V, 15.2 V, 47 V through their dividers.
    readings_ = {0x023, 0x0B5, 0x0E1, 0x3A8};
}

void FrontPanelMicro::setReading(int slot, uint16_t value)
{
    readings_[slot & 3] = value & 0xFFF;
}

void FrontPanelMicro::pins(bool clockLevel, bool hostDrivesData, bool dataLevel)
{
    const bool falling = clock_ && !clockLevel;
    clock_ = clockLevel;
    if (hostDrivesData && replying_) {
        // The controller took the line back: the exchange is over.
        replying_ = false;
        bits_ = 0;
        dataOut_ = true;
    }
    if (!falling)
        return;
    if (!replying_) {
        if (!hostDrivesData)
            return;
        shift_ = static_cast<uint8_t>((shift_ << 1) | (dataLevel ? 1 : 0));
        if (++bits_ == 8) {
            commands_.push_back(shift_);
            reply_ = readings_[shift_ & 3];
            replying_ = true;
            bits_ = 0;
        }
        return;
    }
    if (bits_ < REPLY_BITS) {
        dataOut_ = (reply_ >> (REPLY_BITS - 1 - bits_)) & 1;
        bits_++;
    }
}

int GpioBlockModel::pinFunction(int pin) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>((regs_[static_cast<size_t>(pin / 10)] >> ((pin % 10) * 3)) & 7);
}

uint32_t GpioBlockModel::levels() const
{
    // Outputs read back what the controller drives; inputs have pull-ups, the buttons pull
    // their pins low, and the micro drives the data line while it is an input.
    uint32_t level = 0;
    for (int pin = 0; pin < 32; pin++) {
        const bool output = ((regs_[static_cast<size_t>(pin / 10)] >> ((pin % 10) * 3)) & 7) == 1;
        bool high = true;
        if (output)
            high = (latch_ >> pin) & 1;
        else if (pin == DATA_PIN)
            high = micro_.dataOut();
        else if (pin >= FIRST_BUTTON_PIN && pin < FIRST_BUTTON_PIN + 6)
            high = !((buttonsDown_ >> (pin - FIRST_BUTTON_PIN)) & 1);
        level |= static_cast<uint32_t>(high) << pin;
    }
    return level;
}

void GpioBlockModel::update()
{
    const bool dataOutput = ((regs_[0] >> (DATA_PIN * 3)) & 7) == 1;
    micro_.pins((latch_ >> CLOCK_PIN) & 1, dataOutput, (latch_ >> DATA_PIN) & 1);
}

uint32_t GpioBlockModel::readReg(uint32_t offset)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t value = offset == GPIO_LEV0 ? levels() : regs_[offset / 4];
    accesses_.push_back({GpioAccess::Read, offset, value});
    return value;
}

void GpioBlockModel::writeReg(uint32_t offset, uint32_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    accesses_.push_back({GpioAccess::Write, offset, value});
    if (offset == GPIO_SET0)
        latch_ |= value;
    else if (offset == GPIO_CLR0)
        latch_ &= ~value;
    else if (offset != GPIO_LEV0)
        regs_[offset / 4] = value;
    update();
}

void GpioBlockModel::pauseMicros(int micros)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        accesses_.push_back({GpioAccess::Pause, 0, static_cast<uint32_t>(micros)});
    }
    if (realPauses_)
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

void GpioBlockModel::setButton(int key, bool down)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t bit = 1u << (key - 1);
    buttonsDown_ = down ? (buttonsDown_ | bit) : (buttonsDown_ & ~bit);
}

std::vector<GpioAccess> GpioBlockModel::accesses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return accesses_;
}

void GpioBlockModel::clearAccesses()
{
    std::lock_guard<std::mutex> lock(mutex_);
    accesses_.clear();
}

} // namespace sim
