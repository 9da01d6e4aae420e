// The web panel of ampsim in this process: frames only when the panel file changes, bench
// lines through the control function, readouts and the decoded wire log, the tuner words on
// the wire as a path over the load's own SWR map, the port fallback.
#include "antenna_loads.h"
#include "board_physics.h"
#include "control.h"
#include "panel_frames.h"
#include "sim/sim_test_util.h"
#include "sim_unit.h"
#include "support/files.h"
#include "tuner/tune_word.h"
#include "tuner_network.h"
#include "web_panel.h"

#include <httplib.h>
#include <png.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The RGB pixels of a PNG in memory, the panel's width and `rows` high (empty when it does
// not decode to that size).
std::vector<unsigned char> decodePng(const std::string& data, int rows = sim::kPanelHeight)
{
    png_image pi{};
    pi.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&pi, data.data(), data.size()))
        return {};
    pi.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(pi));
    if (pi.width != sim::kPanelWidth || pi.height != static_cast<png_uint_32>(rows)
        || !png_image_finish_read(&pi, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&pi);
        return {};
    }
    return rgb;
}

// The panel file as the controller's framebuffer holds it: blue, green, red, unused.
std::vector<unsigned char> toRgb(const std::vector<unsigned char>& panel)
{
    std::vector<unsigned char> rgb;
    rgb.reserve(panel.size() / 4 * 3);
    for (size_t i = 0; i + 3 < panel.size(); i += 4) {
        rgb.push_back(panel[i + 2]);
        rgb.push_back(panel[i + 1]);
        rgb.push_back(panel[i]);
    }
    return rgb;
}

// Writes the panel file in place, as the controller's mapping does.
void writePanel(const std::string& path, const std::vector<unsigned char>& pixels)
{
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, pixels.data(), pixels.size(), 0), static_cast<ssize_t>(pixels.size()));
    close(fd);
}

std::vector<unsigned char> pattern(int seed)
{
    std::vector<unsigned char> p(sim::kPanelBytes);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<unsigned char>((i * 7 + static_cast<size_t>(seed) * 13 + i / 3200) & 0xFF);
    return p;
}

struct WebPanelFixture : ::testing::Test {
    simtest::ScratchDir dir;
    sim::SimUnit unit{dir.path() + "/root"};
    sim::BoardPhysics physics;
    sim::TunerTrace trace;
    std::unique_ptr<sim::WebPanel> web;
    std::unique_ptr<httplib::Client> client;

    void SetUp() override
    {
        // As ampsim does: every status reply through the physics, then to the tuner trace.
        unit.board().state().setPhysics([this](const sim::BoardSettings& s, sim::StatusReadings& r) {
            physics.apply(s, r);
            const sim::PhysicsTruth t = physics.truth();
            trace.observe(s, t.forward, sim::truthSwr(t), monoSeconds());
        });
        writeFile(unit.path("sim/ampctl.stderr"), "first line\nOK works->linFD=5\n");
        sim::WebPanelOptions o;
        o.panelWaitSeconds = 0.5;
        o.stderrPath = unit.path("sim/ampctl.stderr");
        o.apply = [this](std::string_view text) { return sim::applyControlText(unit.board(), text, &physics); };
        o.tuner = &trace;
        web = std::make_unique<sim::WebPanel>(unit, &physics, o);
        std::string error;
        ASSERT_TRUE(web->start(error)) << error;
        client = std::make_unique<httplib::Client>("127.0.0.1", web->port());
        client->set_read_timeout(10, 0);
    }
    void TearDown() override
    {
        web->stop();
        unit.stop();
    }
};

} // namespace

TEST_F(WebPanelFixture, PanelFramesFollowTheFileContentOnly)
{
    const std::string fb = unit.framebufferPath();
    writePanel(fb, pattern(1));
    auto res = client->Get("/panel.png?after=0");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
    const std::string v1 = res->get_header_value("X-Panel-Version");
    EXPECT_EQ(decodePng(res->body), toRgb(pattern(1)));

    // Nothing changed: the request waits its time and gets no frame.
    res = client->Get(("/panel.png?after=" + v1).c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 204);

    // One change gives one new frame with the new content.
    writePanel(fb, pattern(2));
    res = client->Get(("/panel.png?after=" + v1).c_str());
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    const std::string v2 = res->get_header_value("X-Panel-Version");
    EXPECT_EQ(std::stoull(v2), std::stoull(v1) + 1);
    EXPECT_EQ(res->get_header_value("X-Panel-Y"), "0");
    EXPECT_EQ(decodePng(res->body), toRgb(pattern(2)));

    // Two changes in rows 100-119 and 300-301 while the viewer looks away: it gets the band
    // from the first changed row to the last, as the panel holds it now.
    std::vector<unsigned char> panel = pattern(2);
    const size_t row = static_cast<size_t>(sim::kPanelWidth) * 4;
    std::fill(panel.begin() + 100 * row, panel.begin() + 120 * row, 0x40);
    writePanel(fb, panel);
    ASSERT_EQ(client->Get(("/panel.png?after=" + v2).c_str())->status, 200);
    std::fill(panel.begin() + 300 * row, panel.begin() + 302 * row, 0x80);
    writePanel(fb, panel);
    usleep(300 * 1000);
    res = client->Get(("/panel.png?after=" + v2).c_str());
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(std::stoull(res->get_header_value("X-Panel-Version")), std::stoull(v2) + 2);
    EXPECT_EQ(res->get_header_value("X-Panel-Y"), "100");
    const std::vector<unsigned char> band(panel.begin() + 100 * row, panel.begin() + 302 * row);
    EXPECT_EQ(decodePng(res->body, 202), toRgb(band));

    // A new viewer gets the whole panel.
    res = client->Get("/panel.png?after=0");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->get_header_value("X-Panel-Y"), "0");
    EXPECT_EQ(decodePng(res->body), toRgb(panel));
}

TEST(PanelFrames, NoComparisonsWithoutViewers)
{
    simtest::ScratchDir dir;
    const std::string fb = dir.path() + "/fb0";
    writeFile(fb, std::string(sim::kPanelBytes, '\0'));
    sim::PanelFrames frames(fb);
    usleep(300 * 1000);
    EXPECT_EQ(frames.checks(), 0u);  // nobody asked: the file is not even read
    const sim::PanelFrame f = frames.waitNewer(0, 5.0);
    EXPECT_EQ(f.version, 1u);
    ASSERT_TRUE(f.png);
    // While a viewer waits, the content is compared (and, unchanged, gives no frame).
    const sim::PanelFrame same = frames.waitNewer(1, 0.3);
    EXPECT_EQ(same.version, 1u);
    EXPECT_GE(frames.checks(), 2u);
    frames.stop();
}

TEST_F(WebPanelFixture, ControlLinesReadoutsAndWireLog)
{
    // Bench lines change the board model; a bad line comes back as its error.
    auto res = client->Post("/control", "drive 20\nload swr 3\nfan 0\ntemperature 61 45\nreading rawCurrent 77",
                            "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "");
    res = client->Post("/control", "fan 140\nbogus", "text/plain");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("fan 140: usage: fan auto|PERCENT"), std::string::npos) << res->body;
    EXPECT_NE(res->body.find("bogus: unknown command bogus"), std::string::npos) << res->body;

    // A status poll over the line runs the physics with those settings.
    simtest::Host host(unit.path("dev/ttyAMA0"));
    ASSERT_TRUE(host.ok());
    host.exchange("FA00014200000;");
    const std::string status = host.exchange("ST;");
    ASSERT_FALSE(status.empty());
    const sim::PhysicsTruth t = physics.truth();
    EXPECT_DOUBLE_EQ(t.drive, 20);
    EXPECT_EQ(t.fanPercent, 0);
    EXPECT_GT(t.forward, 100);
    EXPECT_NEAR(t.reflected / t.forward, 0.25, 0.01); // SWR 3: |gamma| 0.5
    EXPECT_NEAR(t.temp1, 61, 1.0);

    ASSERT_TRUE(unit.waitForFrames(4, 2.0));
    res = client->Get("/state");
    ASSERT_TRUE(res);
    const std::string& json = res->body;
    EXPECT_NE(json.find("\"drive\":20.00"), std::string::npos) << json;
    EXPECT_NE(json.find("\"swr\":3.00"), std::string::npos) << json;
    EXPECT_NE(json.find("\"fan\":0"), std::string::npos) << json;  // commanded: nothing yet
    EXPECT_NE(json.find("\"frequencySet\":14200000"), std::string::npos) << json;
    EXPECT_NE(json.find("\"name\":\"status poll\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"name\":\"reply: status\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"stderr\":[\"first line\",\"OK works->linFD=5\"]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"longPressMs\":500"), std::string::npos) << json;

    res = client->Get("/");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("<canvas id=\"panel\""), std::string::npos);
}

TEST_F(WebPanelFixture, TunerWordsOnTheWireMakeThePathOverTheLoadsOwnMap)
{
    auto res = client->Post("/control", "drive 5\nload outputs", "text/plain");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->body, "");
    // The controller's way on 20 m on output 3 (the end-fed wire): frequency, output, then a
    // tuner word before each status poll.
    simtest::Host host(unit.path("dev/ttyAMA0"));
    ASSERT_TRUE(host.ok());
    host.exchange("FA00014200000;");
    host.exchange("SA3;");
    const std::pair<int, int> settings[] = {{0, 0}, {100, 40}, {180, 60}, {240, 300}};
    for (const auto& [l, c] : settings) {
        char mt[20];
        std::snprintf(mt, sizeof mt, "MT1%08X;", tunewordWithC(tunewordWithL(tunewordWithMode(0, TUNE_MODE_CL), l), c));
        host.exchange(mt);
        ASSERT_FALSE(host.exchange("ST;").empty());
    }
    res = client->Get("/state");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("\"tuner\":{"), std::string::npos) << res->body;
    EXPECT_NE(res->body.find("\"points\":4"), std::string::npos) << res->body;

    res = client->Get("/tuner");
    ASSERT_TRUE(res);
    const std::string& path = res->body;
    EXPECT_NE(path.find("\"frequency\":14200000"), std::string::npos) << path;
    EXPECT_NE(path.find("\"antenna\":3"), std::string::npos) << path;
    EXPECT_NE(path.find("\"mapMode\":1"), std::string::npos) << path;
    // Each point is [L, C, mode, SWR] with the SWR of the wire behind that setting.
    const double f = 14200000.0;
    for (const auto& [l, c] : settings) {
        const uint32_t w = tunewordWithC(tunewordWithL(tunewordWithMode(0, TUNE_MODE_CL), l), c);
        const std::string point = "[" + std::to_string(l) + "," + std::to_string(c) + ",1,";
        const size_t at = path.find(point);
        ASSERT_NE(at, std::string::npos) << point << " in " << path;
        EXPECT_NEAR(std::strtod(path.c_str() + at + point.size(), nullptr),
                    sim::tunerNetwork(w, f, sim::antennaOnOutput(3).impedance(f)).swr, 0.006)
            << point;
    }

    res = client->Get("/tuner/map");
    ASSERT_TRUE(res);
    const std::string& map = res->body;
    EXPECT_NE(map.find("\"size\":128"), std::string::npos) << map.substr(0, 200);
    EXPECT_NE(map.find("\"step\":4"), std::string::npos);
    // Cell (L 100 / 4, C 40 / 4) is the 25 x 128 + 10th number of the list.
    const size_t open = map.find("\"swr\":[");
    ASSERT_NE(open, std::string::npos);
    size_t at = open + 7;
    for (int n = 0; n < 25 * 128 + 10; ++n)
        at = map.find(',', at) + 1;
    const double cell = std::strtod(map.c_str() + at, nullptr);
    const uint32_t w = tunewordWithC(tunewordWithL(tunewordWithMode(0, TUNE_MODE_CL), 100), 40);
    EXPECT_NEAR(cell, sim::tunerNetwork(w, f, sim::antennaOnOutput(3).impedance(f)).swr, 0.006);
}

TEST_F(WebPanelFixture, TakenPortFallsBackToAFreeOne)
{
    sim::WebPanelOptions o;
    o.port = web->port();
    sim::WebPanel second(unit, nullptr, o);
    std::string error;
    ASSERT_TRUE(second.start(error)) << error;
    EXPECT_NE(second.port(), web->port());
    httplib::Client c("127.0.0.1", second.port());
    auto res = c.Post("/control", "drive 1", "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "no control");
    second.stop();
}

TEST(WebPanelFiles, TailLinesAndLongPressTime)
{
    simtest::ScratchDir dir;
    const std::string path = dir.path() + "/log";
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "line " + std::to_string(i) + "\n";
    writeFile(path, text);
    auto lines = sim::fileTailLines(path, 40, 10);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "line 99");
    EXPECT_EQ(lines.front().rfind("line ", 0), 0u); // the cut first line is dropped
    EXPECT_LE(lines.size(), 10u);
    EXPECT_EQ(sim::fileTailLines(path, 10000, 3), (std::vector<std::string>{"line 97", "line 98", "line 99"}));
    EXPECT_TRUE(sim::fileTailLines(dir.path() + "/missing", 100, 10).empty());

    std::filesystem::create_directories(dir.path() + "/opt/set");
    EXPECT_EQ(sim::unitLongPressMs(dir.path()), 500);
    writeFile(dir.path() + "/opt/set/setup.txt", "MAXbank: 20\nBTN_longpress_Time: 8\n");
    EXPECT_EQ(sim::unitLongPressMs(dir.path()), 800);
}
