#include "config/network.h"
#include "core/works.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

TEST(LanConnection, LastLineOfTheHelperWithoutLineEndOrTabs)
{
    TestRoot root("lan");
    auto works = std::make_unique<Works>();
    root.write("sim/my_zolt", "eth0\nWired\tconnection 1\n");
    ReadLANconnection(works.get());
    EXPECT_STREQ("Wired", works->lanConnection);

    // A name longer than the field is taken in pieces; the last piece stays, cut safely.
    root.write("sim/my_zolt", std::string(40, 'n') + "\n");
    ReadLANconnection(works.get());
    EXPECT_EQ(std::string(9, 'n'), works->lanConnection);

    // The helper prints nothing: no connection.
    std::filesystem::remove(root.path("bin/my_zolt"));
    ReadLANconnection(works.get());
    EXPECT_STREQ("No Conn", works->lanConnection);
}
