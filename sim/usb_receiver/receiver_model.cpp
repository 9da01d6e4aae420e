#include "usb_receiver/receiver_model.h"

#include "words.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <utility>

namespace sim {

namespace {

bool toDouble(const std::string& s, double& out)
{
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return !s.empty() && end && *end == '\0' && std::isfinite(out);
}

bool toProduct(const std::string& s, uint16_t& out)
{
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 0);
    if (s.empty() || !end || *end != '\0' || v < 0 || v > 0xFFFF)
        return false;
    out = static_cast<uint16_t>(v);
    return true;
}

bool toSwitch(const std::string& s, bool& out)
{
    if (s != "0" && s != "1")
        return false;
    out = s == "1";
    return true;
}

bool isFault(const std::string& s)
{
    for (const char* k : {"none", "error", "timeout", "stall", "overflow", "nodevice"})
        if (s == k)
            return true;
    return false;
}

// One setting of the file form (also the control words but for the few control-only ones).
std::string applySetting(UsbReceiverSettings& s, const std::vector<std::string>& w)
{
    const std::string& key = w[0];
    double a = 0, b = 0, c = 0;
    if (key == "present" && w.size() == 2 && toSwitch(w[1], s.present))
        return "";
    if (key == "unplugged" && w.size() == 2 && toSwitch(w[1], s.unplugged))
        return "";
    if (key == "product" && w.size() == 2 && toProduct(w[1], s.product))
        return "";
    if (key == "foreign" && w.size() == 2 && toProduct(w[1], s.foreignProduct))
        return "";
    if (key == "rate" && w.size() == 2 && toDouble(w[1], a) && a >= 1000) {
        s.rate = a;
        return "";
    }
    if (key == "offsets" && w.size() == 4 && toDouble(w[1], a) && toDouble(w[2], b) && toDouble(w[3], c)) {
        s.globalOffset = static_cast<float>(a);
        s.lpOffset = static_cast<float>(b);
        s.attOffset = static_cast<float>(c);
        return "";
    }
    if (key == "noise" && w.size() == 2 && toDouble(w[1], a) && a <= 0) {
        s.noiseDbfs = a;
        return "";
    }
    if (key == "tone" && w.size() == 3 && toDouble(w[1], a) && toDouble(w[2], b) && b <= 0) {
        s.tones.push_back({a, b});
        return "";
    }
    if (key == "step" && w.size() == 2 && toDouble(w[1], a)) {
        s.stepHz = a;
        return "";
    }
    if (key == "fault" && w.size() == 2 && isFault(w[1])) {
        s.fault = w[1];
        return "";
    }
    return "usage: usb tone HZ DBFS | tones clear | noise DBFS | step HZ | rate HZ | offsets G LP ATT | "
           "product PID | foreign PID | present 0|1 | fault none|error|timeout|stall|overflow|nodevice | unplug | plug";
}

} // namespace

std::string formatReceiverSettings(const UsbReceiverSettings& s)
{
    char buf[160];
    std::string out;
    std::snprintf(buf, sizeof buf, "present %d\nproduct 0x%04x\nrate %.17g\noffsets %.9g %.9g %.9g\nnoise %.17g\n",
                  s.present ? 1 : 0, s.product, s.rate, static_cast<double>(s.globalOffset),
                  static_cast<double>(s.lpOffset), static_cast<double>(s.attOffset), s.noiseDbfs);
    out += buf;
    for (const UsbTone& t : s.tones) {
        std::snprintf(buf, sizeof buf, "tone %.17g %.17g\n", t.hz, t.dbfs);
        out += buf;
    }
    std::snprintf(buf, sizeof buf, "step %.17g\nfault %s\nunplugged %d\nforeign 0x%04x\n", s.stepHz,
                  s.fault.c_str(), s.unplugged ? 1 : 0, s.foreignProduct);
    return out + buf;
}

UsbReceiverSettings parseReceiverSettings(std::string_view text, std::string* errors)
{
    UsbReceiverSettings s;
    s.tones.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::vector<std::string> w = words(text.substr(pos, end - pos));
        if (!w.empty() && w[0][0] != '#' && !applySetting(s, w).empty() && errors)
            *errors += std::string(text.substr(pos, end - pos)) + "\n";
        pos = end + 1;
    }
    return s;
}

std::string applyReceiverWords(UsbReceiverSettings& s, const std::vector<std::string>& w)
{
    if (w.empty())
        return applySetting(s, {""});
    if (w.size() == 2 && w[0] == "tones" && w[1] == "clear") {
        s.tones.clear();
        return "";
    }
    if (w.size() == 1 && (w[0] == "unplug" || w[0] == "plug")) {
        s.unplugged = w[0] == "unplug";
        return "";
    }
    return applySetting(s, w);
}

std::string receiverSettingsPath(const std::string& root)
{
    return root + "/sim/usb_receiver";
}

UsbReceiver::UsbReceiver(std::string root) : root_(std::move(root))
{
    std::lock_guard lock(mutex_);
    writeLocked();
}

UsbReceiverSettings UsbReceiver::settings() const
{
    std::lock_guard lock(mutex_);
    return settings_;
}

void UsbReceiver::set(const UsbReceiverSettings& s)
{
    std::lock_guard lock(mutex_);
    settings_ = s;
    writeLocked();
}

std::string UsbReceiver::apply(const std::vector<std::string>& words)
{
    std::lock_guard lock(mutex_);
    UsbReceiverSettings s = settings_;
    std::string err = applyReceiverWords(s, words);
    if (!err.empty())
        return err;
    settings_ = s;
    writeLocked();
    return "";
}

void UsbReceiver::writeLocked()
{
    // A new file renamed over the old one: the stand-in never reads half a file.
    const std::string path = receiverSettingsPath(root_);
    const std::string tmp = path + ".new." + std::to_string(getpid());
    FILE* f = std::fopen(tmp.c_str(), "we");
    if (!f)
        return;
    const std::string text = formatReceiverSettings(settings_);
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) == 0 && ok)
        std::rename(tmp.c_str(), path.c_str());
    else
        std::remove(tmp.c_str());
}

void IqSignal::fill(const UsbReceiverSettings& s, uint8_t* out, size_t complexSamples)
{
    constexpr double fullScale = 2147483648.0;
    phases_.resize(s.tones.size(), 0.0);
    std::vector<double> steps, amplitudes;
    for (const UsbTone& t : s.tones) {
        // The tone of this block, moved by the step and folded into the band.
        double hz = std::remainder(t.hz + s.stepHz * static_cast<double>(blocks_), s.rate);
        steps.push_back(2 * M_PI * hz / s.rate);
        amplitudes.push_back(std::pow(10.0, t.dbfs / 20) * fullScale);
    }
    const double sigma = std::pow(10.0, s.noiseDbfs / 20) * fullScale / std::sqrt(2.0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    for (size_t n = 0; n < complexSamples; ++n) {
        double re = sigma * gauss(random_), im = sigma * gauss(random_);
        for (size_t t = 0; t < steps.size(); ++t) {
            re += amplitudes[t] * std::cos(phases_[t]);
            im += amplitudes[t] * std::sin(phases_[t]);
            phases_[t] += steps[t];
            if (phases_[t] > M_PI)
                phases_[t] -= 2 * M_PI;
            else if (phases_[t] < -M_PI)
                phases_[t] += 2 * M_PI;
        }
        for (double v : {re, im}) {
            const int32_t x = static_cast<int32_t>(std::clamp(std::round(v), -fullScale, fullScale - 1));
            const uint32_t u = static_cast<uint32_t>(x);
            out[0] = static_cast<uint8_t>(u);
            out[1] = static_cast<uint8_t>(u >> 8);
            out[2] = static_cast<uint8_t>(u >> 16);
            out[3] = static_cast<uint8_t>(u >> 24);
            out += 4;
        }
    }
    ++blocks_;
}

} // namespace sim
