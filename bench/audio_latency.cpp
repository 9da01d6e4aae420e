// Added latency of remote audio, from the moment a tone's first sample is on the capture
// device until it comes out of the playback device, at the default 240-sample frames.
//
// AudioPathInProcess: one process, both audio threads on the simulated sound interface; each
// captured block is encoded as the sender does (Opus at the bit rate, or raw) and handed to
// the playback entry that received messages reach: capture, widening, encoding, decoding,
// the playback queue. No network.
//
// AudioLinkTwoUnits: two ampctl processes, each on its own simulated unit, server and client
// over the loopback: capture on the server unit, the "SO" frames, playback on the client unit.
//
// Each iteration plays silence, then starts a 1 kHz tone and times its first sample out of
// the playback device. The capture device hands each 5 ms block on as soon as the card has
// recorded it. The playback device plays in real time as a USB card does: 48000 frames a
// second of the monotonic clock, one millisecond at a time, from a buffer of "AudioBuffers"
// periods of 1024 frames (21.3 ms each; a USB card takes 2 at least). What is measured on
// the playback side is the queue the controller keeps in that buffer, not the buffer's
// size: it starts playing at the first block, underruns (and starts again) when a block
// comes late, and drops a queue grown past 100 ms. The counters say, beside the latency,
// the Opus bit rate (0: raw) and the buffer size.
#include "controller_process.h"
#include "loopback_port.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "remote/audio.h"
#include "sound_card.h"
#include "root_builder.h"
#include "sim_unit.h"

#include <benchmark/benchmark.h>
#include <alsa/asoundlib.h>
#include <opus/opus.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

Works* loopWorks = nullptr;

// The playback queue as each block arrives: frames still to play ahead of it, and the blocks
// that found the device in an underrun (written by the capture thread, read after it ended).
struct QueueWatch {
    double frames = 0;
    int blocks = 0;
    int underruns = 0;
} queueWatch;

void watchQueue(Works* works)
{
    std::lock_guard<std::mutex> lock(works->audioOutMutex);
    if (!works->pcmOut || !works->audioOutOn)
        return;
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_avail(works->pcmOut) == -EPIPE)
        ++queueWatch.underruns;
    else if (snd_pcm_state(works->pcmOut) == SND_PCM_STATE_RUNNING && snd_pcm_delay(works->pcmOut, &delay) == 0)
        queueWatch.frames += static_cast<double>(delay);
    ++queueWatch.blocks;
}

// What the sender and the receiving side do with one captured block, without the socket.
void loopBack(Works* works, const unsigned char* block)
{
    const int frames = works->audioFrameSamples;
    watchQueue(works);
    if (works->audioBitrate == 0) {
        playRemoteAudio(works, block, static_cast<size_t>(frames) * 4);
        return;
    }
    std::vector<opus_int16> pcm(static_cast<size_t>(frames) * 2);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = static_cast<opus_int16>(block[2 * i] | block[2 * i + 1] << 8);
    std::vector<unsigned char> packet(static_cast<size_t>(frames) * 4);
    const int n = opus_encode(works->opusEnc, pcm.data(), frames, packet.data(), static_cast<opus_int32>(packet.size()));
    if (n > 0)
        playRemoteAudio(works, packet.data(), static_cast<size_t>(n));
}

// The mean latency and the settings it was measured at, beside the iteration times.
void report(benchmark::State& state, const std::vector<double>& latencies, int buffers, int bitrate)
{
    double sum = 0;
    for (double l : latencies)
        sum += l;
    state.counters["latency_ms"] = latencies.empty() ? 0 : 1000 * sum / static_cast<double>(latencies.size());
    if (!latencies.empty()) {
        state.counters["min_ms"] = 1000 * *std::min_element(latencies.begin(), latencies.end());
        state.counters["max_ms"] = 1000 * *std::max_element(latencies.begin(), latencies.end());
    }
    state.counters["buffer_ms"] = buffers * 1024 * 1000.0 / 48000;
    state.counters["opus_bps"] = bitrate;
}

bool waitFor(bool (*done)(), double seconds)
{
    const double end = monoSeconds() + seconds;
    while (!done()) {
        if (monoSeconds() > end)
            return false;
        sleepMs(2);
    }
    return true;
}

void AudioPathInProcess(benchmark::State& state)
{
    const int buffers = static_cast<int>(state.range(0));
    const int bitrate = static_cast<int>(state.range(1));
    const auto dir = std::filesystem::temp_directory_path() / ("ampctl-bench-audio-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    const std::string root = sim::buildRoot(dir.string());
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("AMPCTL_ROOT", root.c_str(), 1);
    setenv("PATH", (root + "/bin:" + oldPath).c_str(), 1);
    setenv("ALSA_CONFIG_PATH", sim::alsaConfigPath(root).c_str(), 1);
    {
        sim::SoundCard card(root);
        auto works = std::make_unique<Works>();
        auto setup = std::make_unique<Orvosetup>();
        works->setup = setup.get();
        initSetup(works.get());
        works->running = 1;
        works->audioBuffers = buffers;
        works->audioBitrate = bitrate;
        createAudioCodecs(works.get());
        works->wsConnected = 1;
        loopWorks = works.get();
        queueWatch = QueueWatch{};
        setAudioBlockSink(loopBack);
        setSetupSwitch(setup.get(), &Orvosetup::EnableWrite, '1');
        setSetupSwitch(setup.get(), &Orvosetup::EnableRead, '1');
        std::thread playback([&] { th_scrivi(works.get()); });
        std::thread capture([&] { th_leggi(works.get()); });
        waitFor([] { return loopWorks->audioOutOn == 1; }, 10);

        std::vector<double> latencies;
        for (auto _ : state) {
            card.setTone(0, 0);
            sleepMs(300);
            card.armProbe(2000);
            card.setTone(1000, 10000);
            const double end = monoSeconds() + 3;
            while (card.probeSoundAt() == 0 && monoSeconds() < end)
                sleepMs(1);
            if (card.probeSoundAt() == 0) {
                state.SkipWithError("the tone never came out of the playback device");
                break;
            }
            const double latency = card.probeSoundAt() - card.probeToneAt();
            latencies.push_back(latency);
            state.SetIterationTime(latency);
        }
        works->running = 0;
        capture.join();
        playback.join();
        setAudioBlockSink(nullptr);
        report(state, latencies, buffers, bitrate);
        state.counters["overrun_frames"] = static_cast<double>(card.overrunFrames());
        // The queue ahead of each block, the underruns, and the encoder's own delay.
        state.counters["queue_ms"] = queueWatch.blocks ? 1000 * queueWatch.frames / queueWatch.blocks / 48000 : 0;
        state.counters["underruns"] = queueWatch.underruns;
        if (works->opusEnc) {
            opus_int32 lookahead = 0;
            opus_encoder_ctl(works->opusEnc, OPUS_GET_LOOKAHEAD(&lookahead));
            state.counters["opus_delay_ms"] = 1000.0 * lookahead / 48000;
        }
        destroyAudioCodecs(works.get());
    }
    unsetenv("ALSA_CONFIG_PATH");
    unsetenv("AMPCTL_ROOT");
    setenv("PATH", oldPath.c_str(), 1);
    std::filesystem::remove_all(dir);
}

std::string unitDir(const char* name)
{
    const auto dir = std::filesystem::temp_directory_path() / (std::string("ampctl-bench-") + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    return dir.string();
}

void AudioLinkTwoUnits(benchmark::State& state)
{
    const int buffers = static_cast<int>(state.range(0));
    const int bitrate = static_cast<int>(state.range(1));
    const std::string port = std::to_string(freePort());
    sim::SimUnit server(unitDir("audio-server"));
    sim::SimUnit client(unitDir("audio-client"));
    const std::string common = "EnableRead: 1\nEnableWrite: 1\nEnableKeyb: 0\nAudioCompress: " + std::to_string(bitrate) +
                               "\nAudioBuffers: " + std::to_string(buffers) + "\n";
    for (auto [unit, lines] : {std::pair{&server, "WebSocket: 1\nTcpPort: " + port + "\n"},
                               std::pair{&client, "WebSocket: 2\nServer: 127.0.0.1\nTcpPort: " + port + "\n"}}) {
        std::filesystem::create_directories(unit->path("opt/set"));
        std::ofstream(unit->path("opt/set/setup.txt")) << lines << common;
    }
    sim::SoundCard& source = *server.soundCard();
    sim::SoundCard& sink = *client.soundCard();
    source.setTone(1000, 10000);
    {
        sim::ControllerProcess serverCtl(AMPCTL_BIN, server.root(), AMPCTL_BUILD_DIR "/pictures");
        sim::ControllerProcess clientCtl(AMPCTL_BIN, client.root(), AMPCTL_BUILD_DIR "/pictures");
        const double end = monoSeconds() + 90;
        while (sink.playedFrames() < 48000 && monoSeconds() < end)
            sleepMs(100);
        std::vector<double> latencies;
        for (auto _ : state) {
            if (sink.playedFrames() < 48000) {
                state.SkipWithError("no audio reached the client unit");
                break;
            }
            source.setTone(0, 0);
            sleepMs(500);
            source.armProbe(2000);
            sink.listen(2000);
            source.setTone(1000, 10000);
            const double until = monoSeconds() + 3;
            while (sink.probeSoundAt() == 0 && monoSeconds() < until)
                sleepMs(1);
            if (sink.probeSoundAt() == 0) {
                state.SkipWithError("the tone never came out of the client's playback device");
                break;
            }
            const double latency = sink.probeSoundAt() - source.probeToneAt();
            latencies.push_back(latency);
            state.SetIterationTime(latency);
        }
        report(state, latencies, buffers, bitrate);
        serverCtl.terminate();
        clientCtl.terminate();
        serverCtl.waitExit(30);
        clientCtl.waitExit(30);
    }
    server.stop();
    client.stop();
    std::filesystem::remove_all(server.root());
    std::filesystem::remove_all(client.root());
}

} // namespace

// The defaults ("AudioBuffers" 10, "AudioCompress" 64000), then other buffers and raw audio.
BENCHMARK(AudioLinkTwoUnits)
    ->ArgNames({"AudioBuffers", "bitrate"})
    ->Args({10, 64000})
    ->Args({10, 0})
    ->Args({2, 64000})
    ->Args({20, 64000})
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(AudioPathInProcess)
    ->ArgNames({"AudioBuffers", "bitrate"})
    ->Args({10, 64000})
    ->Args({10, 0})
    ->Args({2, 64000})
    ->Args({20, 64000})
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
