#include "web_panel.h"
#include "thread_name.h"

#include "panel_frames.h"
#include "web_page.h"
#include "wire_decode.h"
#include "platform/clock.h"

#include <httplib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace sim {

namespace {

constexpr size_t kWireTailBytes = 6000;
constexpr size_t kWireTailLines = 40;
constexpr size_t kStderrTailBytes = 6000;
constexpr size_t kStderrTailLines = 30;
// Landscape cells: every 4th inductance and capacitance step, 128 x 128.
constexpr int kMapStep = 4;

std::string jsonString(std::string_view s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string jsonNumber(double v, int decimals = 2)
{
    if (!std::isfinite(v))
        return "null";
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// Builds a JSON object key by key.
class JsonObject {
public:
    JsonObject& raw(const char* key, const std::string& value)
    {
        out_ += (out_.size() > 1 ? "," : "") + jsonString(key) + ":" + value;
        return *this;
    }
    JsonObject& text(const char* key, std::string_view value) { return raw(key, jsonString(value)); }
    JsonObject& number(const char* key, double value, int decimals = 2) { return raw(key, jsonNumber(value, decimals)); }
    JsonObject& flag(const char* key, bool value) { return raw(key, value ? "true" : "false"); }
    std::string done() const { return out_ + "}"; }

private:
    std::string out_ = "{";
};

// The board model as the bench sees it: true powers and temperatures, the settings the
// controller made, the frequency counter, pending faults.
std::string boardJson(AmpBoard& board, BoardPhysics* physics)
{
    JsonObject o;
    if (physics) {
        const PhysicsTruth t = physics->truth();
        o.number("drive", t.drive).number("forward", t.forward, 1).number("reflected", t.reflected, 1)
            .number("swr", truthSwr(t)).number("current", t.supplyCurrent).number("dissipation", t.dissipation, 1)
            .number("temp1", t.temp1, 1).number("temp2", t.temp2, 1).flag("tripped", t.tripped)
            .number("fanTurning", t.fanPercent, 0);
    }
    const BoardSettings s = board.settings();
    const StatusReadings r = board.readings();
    char word[16];
    std::snprintf(word, sizeof word, "%08X", s.tuneWord);
    o.number("fan", s.fanPercent, 0).number("frequencySet", static_cast<double>(s.frequencySet), 0)
        .number("counter", static_cast<double>(board.state().measuredFrequency()), 0)
        .number("antenna", s.antenna, 0).text("tuneWord", word).flag("bypass", s.bypass)
        .flag("protection", s.protection).number("attenuator", s.attenuatorCode, 0)
        .flag("transmitting", r.transmitting).flag("swrTrip", r.swrTrip).number("faultByte", r.faultByte, 0)
        .number("faultsPending", static_cast<double>(board.pendingFaults()), 0)
        .number("framesReceived", static_cast<double>(board.framesReceived()), 0)
        .number("framesRejected", static_cast<double>(board.framesRejected()), 0);
    return o.done();
}

std::string wireJson(const std::string& wireLogPath)
{
    WireDecoder decoder;
    std::string out = "[";
    for (const std::string& line : fileTailLines(wireLogPath, kWireTailBytes, kWireTailLines)) {
        const std::optional<DecodedFrame> f = decoder.line(line);
        if (!f)
            continue;
        std::string fields, numbers;
        for (const auto& [k, v] : f->fields)
            fields += (fields.empty() ? "" : " ") + k + "=" + v;
        for (int n : f->commands)
            numbers += (numbers.empty() ? "" : "/") + std::to_string(n);
        JsonObject o;
        o.number("t", f->t, 3).flag("note", f->isNote).text("dir", f->isNote ? "#" : f->toBoard ? ">" : "<")
            .text("frame", f->frame).text("crc", crcStateName(f->crc)).text("want", f->crcExpected)
            .text("numbers", numbers).text("name", f->name).text("fields", fields)
            .number("gapMs", f->gapMs, 1).number("replyMs", f->replyMs, 1).flag("shapeOk", f->shapeOk);
        out += (out.size() > 1 ? "," : "") + o.done();
    }
    return out + "]";
}

std::string linesJson(const std::vector<std::string>& lines)
{
    std::string out = "[";
    for (const std::string& l : lines)
        out += (out.size() > 1 ? "," : "") + jsonString(l);
    return out + "]";
}

} // namespace

std::vector<std::string> fileTailLines(const std::string& path, size_t maxBytes, size_t maxLines)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    const std::streamoff size = in.tellg();
    const std::streamoff start = size > static_cast<std::streamoff>(maxBytes) ? size - static_cast<std::streamoff>(maxBytes) : 0;
    in.seekg(start);
    std::string text(static_cast<size_t>(size - start), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    std::vector<std::string> lines;
    size_t pos = 0;
    if (start > 0) {
        // The first line is cut: start after it.
        pos = text.find('\n');
        pos = pos == std::string::npos ? text.size() : pos + 1;
    }
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    if (lines.size() > maxLines)
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(maxLines));
    return lines;
}

int unitLongPressMs(const std::string& root)
{
    std::ifstream in(rootPath(root, "opt/set/setup.txt"));
    const std::string key = "BTN_longpress_Time:";
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            const int tenths = std::atoi(line.c_str() + key.size());
            if (tenths > 0)
                return tenths * 100;
        }
    }
    return 500;
}

struct WebPanel::Server {
    httplib::Server http;
    std::thread thread;
};

WebPanel::WebPanel(SimUnit& unit, BoardPhysics* physics, WebPanelOptions options)
    : unit_(unit), physics_(physics), options_(std::move(options))
{
}

WebPanel::~WebPanel()
{
    stop();
}

std::string WebPanel::url() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::string WebPanel::tunerJson() const
{
    if (!options_.tuner)
        return "{}";
    const TunerPath p = options_.tuner->path(monoSeconds());
    std::string points = "[";
    for (const TracePoint& t : p.points) {
        points += (points.size() > 1 ? ",[" : "[") + std::to_string(t.l) + "," + std::to_string(t.c) + "," +
                  std::to_string(t.mode) + "," + jsonNumber(t.swr) + "]";
    }
    JsonObject o;
    o.number("version", static_cast<double>(p.version), 0).flag("running", p.running)
        .number("frequency", static_cast<double>(p.frequencyHz), 0).number("antenna", p.antenna, 0)
        .number("best", p.best, 0).number("mapMode", p.mapMode, 0).raw("points", points + "]");
    return o.done();
}

std::string WebPanel::tunerMapJson() const
{
    if (!options_.tuner || !physics_)
        return "{}";
    const TunerPath p = options_.tuner->path(monoSeconds());
    if (p.mapMode == 0)
        return "{}";
    const std::string key = std::to_string(p.frequencyHz) + "/" + std::to_string(p.antenna) + "/" +
                            std::to_string(p.mapMode);
    std::lock_guard lock(mapMutex_);
    if (key == mapKey_)
        return mapJson_;
    const TunerMap map = tunerLandscape(physics_->reflection(), p.frequencyHz, p.antenna, p.mapMode, kMapStep);
    std::string cells = "[";
    for (float v : map.swr)
        cells += (cells.size() > 1 ? "," : "") + jsonNumber(v);
    JsonObject o;
    o.number("frequency", static_cast<double>(p.frequencyHz), 0).number("antenna", p.antenna, 0)
        .number("mode", map.mode, 0).number("step", map.step, 0).number("size", map.size, 0)
        .raw("swr", cells + "]");
    mapKey_ = key;
    mapJson_ = o.done();
    return mapJson_;
}

std::string WebPanel::stateJson() const
{
    JsonObject o;
    if (options_.tuner) {
        const TunerPath p = options_.tuner->path(monoSeconds());
        JsonObject t;
        t.number("version", static_cast<double>(p.version), 0).flag("running", p.running)
            .number("points", static_cast<double>(p.points.size()), 0);
        o.raw("tuner", t.done());
    }
    o.number("longPressMs", unitLongPressMs(unit_.root()), 0)
        .raw("board", boardJson(unit_.board(), physics_))
        .raw("wire", wireJson(unit_.wireLogPath()))
        .raw("stderr", linesJson(options_.stderrPath.empty()
                                     ? std::vector<std::string>{}
                                     : fileTailLines(options_.stderrPath, kStderrTailBytes, kStderrTailLines)));
    return o.done();
}

bool WebPanel::start(std::string& error)
{
    if (server_)
        return true;
    frames_ = std::make_unique<PanelFrames>(unit_.framebufferPath());
    server_ = std::make_unique<Server>();
    httplib::Server& http = server_->http;
    // One request a connection: the library watches an idle kept-alive connection by
    // waking every 10 ms, which with the browser's few connections cost several per cent
    // of a core; a new loopback connection per request costs next to nothing. A connection
    // opened ahead by the browser waits at most a second.
    http.set_keep_alive_max_count(1);
    http.set_keep_alive_timeout(1);
    // The library's default also sets SO_REUSEPORT, which would let a second unit share a
    // port with the first (and take half its requests): reuse of the address only.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    http.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(webPanelPage(), "text/html; charset=utf-8");
    });
    http.Get("/panel.png", [this](const httplib::Request& req, httplib::Response& res) {
        const uint64_t after = req.has_param("after") ? std::strtoull(req.get_param_value("after").c_str(), nullptr, 10) : 0;
        const PanelFrame f = frames_->waitNewer(after, options_.panelWaitSeconds);
        res.set_header("Cache-Control", "no-store");
        if (f.version <= after || !f.png) {
            res.status = 204;
            return;
        }
        res.set_header("X-Panel-Version", std::to_string(f.version));
        res.set_header("X-Panel-Y", std::to_string(f.y));
        res.set_content(reinterpret_cast<const char*>(f.png->data()), f.png->size(), "image/png");
    });
    http.Get("/state", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        // With the charset the library leaves the document uncompressed: it would brotli
        // every answer at its slowest setting, some 20 ms of a core a few times a second.
        res.set_content(stateJson(), "application/json; charset=utf-8");
    });
    http.Get("/tuner", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(tunerJson(), "application/json; charset=utf-8");
    });
    http.Get("/tuner/map", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(tunerMapJson(), "application/json; charset=utf-8");
    });
    http.Post("/control", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string errors = options_.apply ? options_.apply(req.body) : "no control";
        res.set_content(errors, "text/plain; charset=utf-8");
    });

    int port = -1;
    if (options_.port > 0 && http.bind_to_port("127.0.0.1", options_.port)) {
        port = options_.port;
    } else {
        if (options_.port > 0)
            std::fprintf(stderr, "ampsim: web panel: port %d is not free, taking another\n", options_.port);
        port = http.bind_to_any_port("127.0.0.1");
    }
    if (port <= 0) {
        error = "cannot bind a port on 127.0.0.1";
        frames_.reset();
        server_.reset();
        return false;
    }
    port_ = port;
    server_->thread = std::thread([this] {
        nameThisThread("web-http");
        server_->http.listen_after_bind();
    });
    return true;
}

void WebPanel::stop()
{
    if (frames_)
        frames_->stop();
    if (server_) {
        server_->http.stop();
        if (server_->thread.joinable())
            server_->thread.join();
        server_.reset();
    }
    frames_.reset();
}

} // namespace sim
