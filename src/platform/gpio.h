#pragma once
// The GPIO controller's register block: the one narrow seam between the button reader and
// the pins. On the unit the block is 4096 bytes of /dev/mem at 0x3F200000; on a simulated
// root /dev/mem is a regular file whose first 4096 bytes are the block (the simulated front
// panel writes the level register there). Tests use an in-process block that records every
// access.
#include <cstddef>
#include <cstdint>
#include <memory>

// Register offsets in the block (32-bit words, by byte offset).
constexpr uint32_t GPIO_FSEL0 = 0x00;  // function select, 10 pins a register, 3 bits a pin
constexpr uint32_t GPIO_SET0 = 0x1C;   // output set: a 1 drives the pin high
constexpr uint32_t GPIO_CLR0 = 0x28;   // output clear: a 1 drives the pin low
constexpr uint32_t GPIO_LEV0 = 0x34;   // pin level
constexpr uint32_t GPIO_PUD = 0x94;    // pull-up/down control (2 = pull-up)
constexpr uint32_t GPIO_PUDCLK0 = 0x98; // pull-up/down clock: the pins the control applies to
constexpr size_t GPIO_BLOCK_BYTES = 4096;
constexpr long GPIO_PHYS_BASE = 0x3F200000;

class GpioPort {
public:
    virtual ~GpioPort() = default;
    virtual uint32_t readReg(uint32_t offset) = 0;
    virtual void writeReg(uint32_t offset, uint32_t value) = 0;
    // Waits the given microseconds (the bit timing of the front-panel micro link).
    virtual void pauseMicros(int micros) = 0;
};

// Opens /dev/mem (mapped through the root) and maps the register block. Returns 0 with the
// port set, 8 when the file cannot be opened, 255 when the block cannot be mapped (a regular
// file shorter than the block counts as that: its missing pages would fault on access).
int openGpioBlock(std::unique_ptr<GpioPort>& port);

// Pin helpers on top of the registers.
void gpioSetInput(GpioPort& port, int pin);
void gpioSetOutput(GpioPort& port, int pin);  // leaves the pin an input first, as the hardware wants
void gpioDriveHigh(GpioPort& port, uint32_t pinMask);
void gpioDriveLow(GpioPort& port, uint32_t pinMask);
int gpioLevel(GpioPort& port, int pin);  // 0 or 1
