// The simulated unit's ports check the line settings the controller set, as the devices
// only understand their own speed and framing: the check itself, and a board and an FT-817
// that refuse a line set wrong.
#include "line_settings.h"
#include "sim_unit.h"
#include "sim_test_util.h"
#include "transceiver_ports.h"

#include <gtest/gtest.h>

#include <cstring>

using simtest::Host;
using simtest::ScratchDir;

namespace {

// A line set the way the controller sets its ports: an all-zero record, the flags, a speed.
termios line(tcflag_t cflag, speed_t speed, tcflag_t iflag = IGNPAR)
{
    termios t;
    std::memset(&t, 0, sizeof t);
    t.c_iflag = iflag;
    t.c_cflag = cflag;
    t.c_cc[VMIN] = 1;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return t;
}

TEST(SimLineSettings, EachDeviceTakesItsOwnSettingsAndNamesWhatIsWrong)
{
    const termios board = line(B115200 | CS8 | CREAD | CLOCAL | HUPCL, B115200);
    EXPECT_EQ("", sim::lineSettingsProblem(board, sim::kLine115200));
    const termios ft817 = line(CS8 | CSTOPB | CREAD | CLOCAL, B38400);
    EXPECT_EQ("", sim::lineSettingsProblem(ft817, sim::kLineFt817));

    // The FT-817's line on a 115200 device, and the other way round.
    EXPECT_EQ("speed 38400, needs 115200; 2 stop bits, needs 1", sim::lineSettingsProblem(ft817, sim::kLine115200));
    EXPECT_EQ("speed 115200, needs 38400; 1 stop bit, needs 2", sim::lineSettingsProblem(board, sim::kLineFt817));
    EXPECT_EQ("speed 9600, needs 38400", sim::lineSettingsProblem(line(CS8 | CSTOPB | CREAD, B9600), sim::kLineFt817));
    EXPECT_EQ("1 stop bit, needs 2", sim::lineSettingsProblem(line(CS8 | CREAD, B38400), sim::kLineFt817));

    // Framing and raw mode.
    EXPECT_EQ("not 8 data bits", sim::lineSettingsProblem(line(CS7 | CREAD, B115200), sim::kLine115200));
    EXPECT_EQ("parity on", sim::lineSettingsProblem(line(CS8 | PARENB | CREAD, B115200), sim::kLine115200));
    EXPECT_EQ("receiver off", sim::lineSettingsProblem(line(CS8, B115200), sim::kLine115200));
    EXPECT_EQ("input translated (CR/NL, stripping or flow control)",
              sim::lineSettingsProblem(line(CS8 | CREAD, B115200, ICRNL), sim::kLine115200));
    termios cooked = board;
    cooked.c_lflag = ICANON | ECHO;
    cooked.c_oflag = OPOST;
    EXPECT_EQ("not raw (line editing, echo or signals on); output processing on",
              sim::lineSettingsProblem(cooked, sim::kLine115200));
    // An input speed of 0 means "as the output".
    termios sameSpeed = ft817;
    cfsetispeed(&sameSpeed, 0);
    EXPECT_EQ("", sim::lineSettingsProblem(sameSpeed, sim::kLineFt817));
}

TEST(SimLineSettings, TheBoardRefusesALineAtTheWrongSpeedAndAnswersOnceItIsRight)
{
    ScratchDir dir;
    ASSERT_FALSE(dir.path().empty());
    sim::SimOptions o;
    o.pacing = false;
    sim::SimUnit unit(dir.path(), o);
    Host host(unit.path("dev/ttyAMA0"));
    ASSERT_TRUE(host.ok());
    ASSERT_NE("", host.exchange("ST;")) << "answers at the right settings";
    EXPECT_EQ(0u, unit.board().lineGuard().refusals());

    termios t;
    ASSERT_EQ(0, tcgetattr(host.fd(), &t));
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    ASSERT_EQ(0, tcsetattr(host.fd(), TCSANOW, &t));
    EXPECT_EQ("", host.exchange("ST;", 1.0)) << "garbage to the board at 9600";
    EXPECT_EQ("", host.exchange("FM;", 1.0));
    EXPECT_EQ(1u, unit.board().lineGuard().refusals()) << "one refusal for the whole time it was wrong";
    EXPECT_EQ("speed 9600, needs 115200", unit.board().lineGuard().lastProblem());

    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    ASSERT_EQ(0, tcsetattr(host.fd(), TCSANOW, &t));
    EXPECT_NE("", host.exchange("ST;"));
}

TEST(SimLineSettings, TheFt817AnswersOnlyAt38400WithTwoStopBits)
{
    ScratchDir dir;
    ASSERT_FALSE(dir.path().empty());
    sim::SimUnit unit(dir.path(), sim::SimOptions{});
    sim::TransceiverPorts& ports = *unit.transceivers();
    ports.setConnected(sim::SerialTransceiver::Ft817);
    ports.ft817([](sim::Ft817& t) { t.frequency = 14234560; });
    Host host(unit.path("dev/ttyUSB1"));
    ASSERT_TRUE(host.ok());
    // The maker's transceiver, on the line from the unit's start until the switch above, may
    // have streamed a message into it already (a slow build gets there): not the FT-817's.
    host.drain(0.5);
    const std::string request("\0\0\0\0\3", 5);
    const std::string reply("\x01\x42\x34\x56\x01", 5);

    // The board's settings (one stop bit, 115200) on the FT-817's line: no answer.
    host.sendRaw(request);
    EXPECT_EQ("", host.drain(1.0));
    EXPECT_EQ("speed 115200, needs 38400; 1 stop bit, needs 2", ports.lineGuard(sim::TrxPort::Serial).lastProblem());

    termios t = line(CS8 | CREAD | CLOCAL, B38400);
    ASSERT_EQ(0, tcsetattr(host.fd(), TCSANOW, &t));
    host.sendRaw(request);
    EXPECT_EQ("", host.drain(1.0)) << "38400 without the second stop bit";
    EXPECT_EQ("1 stop bit, needs 2", ports.lineGuard(sim::TrxPort::Serial).lastProblem());

    t = line(CS8 | CSTOPB | CREAD | CLOCAL, B38400);
    ASSERT_EQ(0, tcsetattr(host.fd(), TCSANOW, &t));
    host.sendRaw(request);
    EXPECT_EQ(reply, host.drain(1.0));
    EXPECT_EQ(2u, ports.lineGuard(sim::TrxPort::Serial).refusals());
}

} // namespace
