// Added latency of remote audio, from the moment a tone's first sample is on the capture
// device until it comes out of the playback device, at the default 240-sample frames.
//
// AudioPathInProcess: one process, both audio threads on the simulated sound interface; each
// captured block is encoded as the sender does (Opus at the bit rate, or raw) and handed to
// the playback entry that received messages reach: capture, widening, encoding, decoding,
// the playback queue. No network.
//
// Each iteration plays silence, then starts a 1 kHz tone and times its first sample out of
// the playback device. The playback queue is the device buffer of "AudioBuffers" periods of
// 1024 frames (21.3 ms each): the simulated device passes samples on once a full buffer is
// queued behind them, as a real queue that is kept full.
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "remote/audio.h"
#include "sound_card.h"
#include "root_builder.h"

#include <benchmark/benchmark.h>
#include <opus/opus.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

Works* loopWorks = nullptr;

// What the sender and the receiving side do with one captured block, without the socket.
void loopBack(Works* works, const unsigned char* block)
{
    const int frames = works->audioFrameSamples;
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
        destroyAudioCodecs(works.get());
        double sum = 0;
        for (double l : latencies)
            sum += l;
        state.counters["latency_ms"] = latencies.empty() ? 0 : 1000 * sum / static_cast<double>(latencies.size());
        state.counters["queue_ms"] = buffers * 1024 * 1000.0 / 48000;
        state.counters["opus_bps"] = bitrate;
        state.counters["overrun_frames"] = static_cast<double>(card.overrunFrames());
    }
    unsetenv("ALSA_CONFIG_PATH");
    unsetenv("AMPCTL_ROOT");
    setenv("PATH", oldPath.c_str(), 1);
    std::filesystem::remove_all(dir);
}

} // namespace

BENCHMARK(AudioPathInProcess)
    ->ArgNames({"AudioBuffers", "bitrate"})
    ->Args({1, 64000})
    ->Args({1, 0})
    ->Args({10, 64000})
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
