#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioSessionEvents.h"

namespace hushwell::e2e {

// Helpers for tests that run inside scripts/pw-sandbox against its private sound server.

// The sandbox's null sink (HUSHWELL_TEST_SINK), empty when not run inside the sandbox.
std::string SandboxSink();

// Runs a command through the shell and returns what it printed; `status` gets its exit code.
std::string Run(const std::string& command, int* status = nullptr);

// Checks `condition` every few milliseconds until it holds or the time-out passes.
bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// The sink's mute and channel volumes as pactl shows them.
bool PactlMuted(const std::string& sink);
struct PactlVolume {
    std::vector<int> percents;       // per channel, as pactl prints them
    std::vector<std::uint32_t> raw;  // per channel, on the server's scale
};
PactlVolume PactlSinkVolume(const std::string& sink);

// Loads another null sink (monitor before volume, like the sandbox's own) and returns its
// module index; UnloadModule removes it again.
std::string LoadNullSink(const std::string& name);
void UnloadModule(const std::string& index);

// Makes `sink` the default output and waits until the server reports it as such: a sink that
// was loaded a moment ago may not be ready to become the default yet, so the request is
// repeated until it holds. False when it never does within the time-out.
bool SetDefaultSink(const std::string& sink,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A temporary folder removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes a 16-bit PCM WAV file of a sine tone (peak amplitude 0..1) on every channel.
void WriteToneWav(const std::filesystem::path& path, std::uint32_t rate, std::uint16_t channels,
                  double frequency, double amplitude, double seconds);
// Reads raw little-endian float samples (as parec writes them with --format=float32le).
std::vector<float> ReadFloats(const std::filesystem::path& path);

// The amplitude of the `frequency` component of a mono signal (Goertzel), and the RMS level.
double ToneAmplitude(const std::vector<float>& samples, std::uint32_t rate, double frequency);
double Rms(const std::vector<float>& samples);
// The `length` samples around the loudest part of the signal (a window of that length whose
// RMS is largest, searched in steps of a tenth of it).
std::vector<float> LoudestWindow(const std::vector<float>& samples, std::size_t length);

// Records the disconnect reasons a session reports, for checking on the test thread.
class RecordingSession : public AudioSessionEvents {
public:
    void OnSessionDisconnected(DisconnectReason reason) override {
        std::lock_guard lock(mutex_);
        reasons_.push_back(reason);
    }
    std::vector<DisconnectReason> Reasons() {
        std::lock_guard lock(mutex_);
        return reasons_;
    }

private:
    std::mutex mutex_;
    std::vector<DisconnectReason> reasons_;
};

}  // namespace hushwell::e2e
