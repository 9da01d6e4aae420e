#include "transceiver_control.h"

#include "transceiver_ports.h"

#include <cstdlib>

namespace sim {

namespace {

bool number(const std::string& s, double& out)
{
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return !s.empty() && end && *end == '\0';
}

bool onOff(const std::string& s, bool& out)
{
    if (s != "on" && s != "off")
        return false;
    out = s == "on";
    return true;
}

std::string makerLine(TransceiverPorts& ports, const std::vector<std::string>& w)
{
    const std::string& what = w.size() > 1 ? w[1] : std::string();
    double v = 0, v2 = 0;
    bool flag = false;
    if (w.size() == 2 && (what == "maker" || what == "ft817" || what == "none")) {
        ports.setConnected(what == "maker"   ? SerialTransceiver::Maker
                           : what == "ft817" ? SerialTransceiver::Ft817
                                             : SerialTransceiver::None);
        return "";
    }
    if (w.size() == 2 && (what == "unplug" || what == "plug")) {
        ports.setPlugged(TrxPort::Serial, what == "plug");
        return "";
    }
    if (w.size() == 2 && (what == "cut" || what == "resume")) {
        if (what == "cut")
            ports.cutMidMessage();
        else
            ports.resume();
        return "";
    }
    if (what == "vfo") {
        if (w.size() != 3 || (w[2] != "A" && w[2] != "B" && w[2] != "M"))
            return "usage: trx vfo A|B|M";
        ports.maker([&](MakerTransceiver& t) { t.vfo = w[2][0]; });
        return "";
    }
    if (what == "freq") {
        const bool lettered = w.size() == 4;
        const std::string letter = lettered ? w[2] : "";
        if ((w.size() != 3 && !lettered) || (lettered && letter != "A" && letter != "B" && letter != "M") ||
            !number(w.back(), v) || v < 0 || v > 4.0e9)
            return "usage: trx freq [A|B|M] HZ";
        ports.maker([&](MakerTransceiver& t) {
            const char which = lettered ? letter[0] : t.vfo;
            uint32_t& slot = which == 'B' ? t.freqB : which == 'M' ? t.freqM : t.freqA;
            slot = static_cast<uint32_t>(v);
        });
        return "";
    }
    if (what == "mode") {
        if (w.size() != 3 || !number(w[2], v) || v < 0 || v > 15)
            return "usage: trx mode N (0..15)";
        ports.maker([&](MakerTransceiver& t) { t.mode = static_cast<int>(v); });
        return "";
    }
    if (what == "tx") {
        if (w.size() != 3 || !onOff(w[2], flag))
            return "usage: trx tx on|off";
        ports.maker([&](MakerTransceiver& t) { t.keyed = flag; });
        return "";
    }
    if (what == "an") {
        if (w.size() != 3 || (w[2] != "0" && w[2] != "1"))
            return "usage: trx an 0|1";
        ports.maker([&](MakerTransceiver& t) { t.anRequest = w[2] == "1"; });
        return "";
    }
    if (what == "power") {
        if (w.size() != 3 || !number(w[2], v) || v < 0)
            return "usage: trx power WATTS";
        ports.maker([&](MakerTransceiver& t) { t.keyWatts = t.tuneWatts = v; });
        return "";
    }
    if (what == "rate") {
        if (w.size() != 4 || !number(w[2], v) || !number(w[3], v2) || v < 0 || v2 < 0 || v > 1000 || v2 > 1000)
            return "usage: trx rate PARAMS SPECTRA (a second, 0..1000)";
        ports.setRates(v, v2);
        return "";
    }
    if (what == "tone") {
        if (w.size() == 3 && w[2] == "off") {
            ports.maker([](MakerTransceiver& t) { t.toneOn = false; });
            return "";
        }
        if (w.size() != 4 || !number(w[2], v) || !number(w[3], v2) || v2 < -192 || v2 > 63)
            return "usage: trx tone OFFSET_HZ DB | trx tone off";
        ports.maker([&](MakerTransceiver& t) {
            t.toneOn = true;
            t.toneOffsetHz = v;
            t.toneDb = v2;
        });
        return "";
    }
    return "usage: trx maker|ft817|none|unplug|plug|cut|resume|vfo|freq|mode|tx|an|power|rate|tone ...";
}

std::string ft817Line(TransceiverPorts& ports, const std::vector<std::string>& w)
{
    double v = 0;
    if (w.size() == 3 && w[1] == "freq" && number(w[2], v) && v >= 0 && v < 1.0e9) {
        ports.ft817([&](Ft817& t) { t.frequency = static_cast<uint32_t>(v); });
        return "";
    }
    if (w.size() == 3 && w[1] == "reply") {
        const std::pair<const char*, Ft817::Reply> replies[] = {{"normal", Ft817::Reply::Normal},
                                                                {"silence", Ft817::Reply::Silence},
                                                                {"garbage", Ft817::Reply::Garbage},
                                                                {"short", Ft817::Reply::Short},
                                                                {"late", Ft817::Reply::Late}};
        for (const auto& entry : replies) {
            if (w[2] == entry.first) {
                const Ft817::Reply reply = entry.second;
                ports.ft817([reply](Ft817& t) { t.reply = reply; });
                return "";
            }
        }
    }
    return "usage: ft817 freq HZ | ft817 reply normal|silence|garbage|short|late";
}

std::string catLine(TransceiverPorts& ports, const std::vector<std::string>& w)
{
    bool flag = false;
    if (w.size() == 2 && (w[1] == "unplug" || w[1] == "plug")) {
        ports.setPlugged(TrxPort::Cat, w[1] == "plug");
        return "";
    }
    if (w.size() == 3 && w[1] == "answer") {
        ports.catPort([&](CatUsbPort& c) { c.identity = w[2]; });
        return "";
    }
    if (w.size() == 3 && w[1] == "silent" && onOff(w[2], flag)) {
        ports.catPort([&](CatUsbPort& c) { c.silent = flag; });
        return "";
    }
    if (w.size() == 3 && w[1] == "echo" && onOff(w[2], flag)) {
        ports.catPort([&](CatUsbPort& c) { c.echo = flag; });
        return "";
    }
    if (w.size() >= 3 && w[1] == "send") {
        ports.catSend(std::vector<std::string>(w.begin() + 2, w.end()));
        return "";
    }
    if (w.size() >= 3 && w[1] == "reply") {
        const std::vector<std::string> pieces(w.begin() + 3, w.end());
        ports.catPort([&](CatUsbPort& c) {
            if (pieces.empty())
                c.answers.erase(w[2]);
            else
                c.answers[w[2]] = pieces;
        });
        return "";
    }
    return "usage: cat unplug|plug | cat answer TEXT | cat silent on|off | cat echo on|off | cat reply COMMAND [PIECE ...] | cat send PIECE ...";
}

} // namespace

bool isTransceiverCommand(const std::string& word)
{
    return word == "trx" || word == "ft817" || word == "cat";
}

std::string applyTransceiverLine(TransceiverPorts& ports, const std::vector<std::string>& w)
{
    if (w[0] == "trx")
        return makerLine(ports, w);
    if (w[0] == "ft817")
        return ft817Line(ports, w);
    return catLine(ports, w);
}

} // namespace sim
