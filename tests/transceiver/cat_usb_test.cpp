// The CAT port probe against the simulated unit's CAT port: the candidates are tried from
// the last to the first, a wrong or missing identity is refused, and ExitCAT raises error 20.
#include "amplifier/amp_test_util.h"
#include "amplifier/errors.h"
#include "core/setup.h"
#include "pty.h"
#include "sim_unit.h"
#include "support/files.h"
#include "transceiver/cat_usb.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

class CatFixture {
public:
    CatFixture() : unit(freshTempDir("cat-probe"))
    {
        setenv("AMPCTL_ROOT", unit.root().c_str(), 1);
        works->setup = &setup;
        setSlot(setup.CatPort, "/dev/ttyUSB0");
        setup.EnableCAT = '1';
    }
    ~CatFixture()
    {
        unsetenv("AMPCTL_ROOT");
        unit.stop();
        std::filesystem::remove_all(unit.root());
    }
    sim::SimUnit unit;
    std::unique_ptr<Works> works = freshWorks();
    Orvosetup setup{};
};

TEST(CatProbe, LastCandidateFirstWrongAnswersRefusedAndExitRaisesError20)
{
    CatFixture f;
    // A second candidate that sorts after the transceiver's and never answers: tried first,
    // given up after its 1 s, closed; the transceiver's port is then found.
    sim::Pty mute;
    mute.link(f.unit.path("dev/DODUVOV1"));
    testing::internal::CaptureStderr();
    ASSERT_EQ(0, VerifyCAT(f.works.get()));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_LT(log.find("Opened /dev/DODUVOV1"), log.find("Opened /dev/DODUVOV0")) << log;
    EXPECT_NE(std::string::npos, log.find("received DT001; /dev/DODUVOV0")) << log;
    ASSERT_GT(f.works->catFD, 0);
    // The identity's ';' was taken with it: a command now gets only its own echo.
    ASSERT_EQ(3, write(f.works->catFD, "FA;", 3));
    char echo[8] = {};
    ssize_t got = 0;
    for (int i = 0; i < 20 && got < 3; ++i) {
        const ssize_t n = read(f.works->catFD, echo + got, sizeof echo - 1 - static_cast<size_t>(got));
        if (n > 0)
            got += n;
    }
    EXPECT_STREQ("FA;", echo);
    close(f.works->catFD);
    mute.unlink();

    // A transceiver answering another identity is refused.
    f.unit.transceivers()->catPort([](sim::CatUsbPort& c) { c.identity = "DT002;"; });
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, VerifyCAT(f.works.get()));
    const std::string refused = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, refused.find("Cannot connect IXO using /dev/DODUVOV0")) << refused;
    EXPECT_NE(std::string::npos, refused.find("CAT: Unable to open device /dev/ttyUSB0")) << refused;

    // The end of CAT: switch off, error 20, the remote threads to be restarted.
    ExitCAT(f.works.get());
    EXPECT_EQ('0', setupSwitch(&f.setup, &Orvosetup::EnableCAT));
    EXPECT_TRUE(ExistError(f.works.get(), 20));
    EXPECT_EQ(1, f.works->remoteThreadExited.load());
    EXPECT_EQ(0, f.works->catFD.load());

    // No candidate at all; no transceiver on this machine's USB bus.
    std::filesystem::remove(f.unit.path("dev/DODUVOV0"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, VerifyCAT(f.works.get()));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("No CAT serial port found"));
    EXPECT_EQ(1, Find_Remote_Settings(f.works.get()));
}

} // namespace
