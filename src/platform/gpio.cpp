#include "platform/gpio.h"

#include "platform/paths.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The block mapped from /dev/mem or from the simulated root's register file.
class MappedGpio final : public GpioPort {
public:
    explicit MappedGpio(void* base) : regs_(static_cast<volatile uint32_t*>(base)) {}
    ~MappedGpio() override { munmap(const_cast<uint32_t*>(regs_), GPIO_BLOCK_BYTES); }
    MappedGpio(const MappedGpio&) = delete;
    MappedGpio& operator=(const MappedGpio&) = delete;

    uint32_t readReg(uint32_t offset) override { return regs_[offset / 4]; }
    void writeReg(uint32_t offset, uint32_t value) override { regs_[offset / 4] = value; }
    void pauseMicros(int micros) override
    {
        timespec t{0, static_cast<long>(micros) * 1000};
        while (clock_nanosleep(CLOCK_MONOTONIC, 0, &t, &t) == EINTR) {
        }
    }

private:
    volatile uint32_t* regs_;
};

} // namespace

int openGpioBlock(std::unique_ptr<GpioPort>& port)
{
    const std::string path = mapPath("/dev/mem");
    const int fd = open(path.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0)
        return 8;
    // The device is mapped at the controller's physical address; a regular file (the
    // simulated unit) holds the block at its start.
    struct stat st {};
    off_t offset = GPIO_PHYS_BASE;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        offset = 0;
        if (st.st_size < static_cast<off_t>(GPIO_BLOCK_BYTES)) {
            close(fd);
            errno = EINVAL;
            return 255;
        }
    }
    void* base = mmap(nullptr, GPIO_BLOCK_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    const int mapErrno = errno;
    close(fd);
    if (base == MAP_FAILED) {
        errno = mapErrno;
        return 255;
    }
    port = std::make_unique<MappedGpio>(base);
    return 0;
}

void gpioSetInput(GpioPort& port, int pin)
{
    const uint32_t reg = GPIO_FSEL0 + static_cast<uint32_t>(pin / 10) * 4;
    const int shift = (pin % 10) * 3;
    port.writeReg(reg, port.readReg(reg) & ~(7u << shift));
}

void gpioSetOutput(GpioPort& port, int pin)
{
    gpioSetInput(port, pin);
    const uint32_t reg = GPIO_FSEL0 + static_cast<uint32_t>(pin / 10) * 4;
    port.writeReg(reg, port.readReg(reg) | (1u << ((pin % 10) * 3)));
}

void gpioDriveHigh(GpioPort& port, uint32_t pinMask)
{
    port.writeReg(GPIO_SET0, pinMask);
}

void gpioDriveLow(GpioPort& port, uint32_t pinMask)
{
    port.writeReg(GPIO_CLR0, pinMask);
}

int gpioLevel(GpioPort& port, int pin)
{
    return (port.readReg(GPIO_LEV0) >> pin) & 1;
}
