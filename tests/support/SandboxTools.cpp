#include "tests/support/SandboxTools.h"

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <regex>
#include <stdexcept>
#include <thread>

namespace hushwell::e2e {

namespace {

constexpr std::chrono::milliseconds kPollInterval{10};

void PutLe(std::vector<char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

std::string SandboxSink() {
    const char* sink = std::getenv("HUSHWELL_TEST_SINK");
    return sink != nullptr ? sink : "";
}

std::string Run(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr) {
            *status = -1;
        }
        return output;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    const int raw = pclose(pipe);
    if (status != nullptr) {
        *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    return output;
}

bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

bool PactlMuted(const std::string& sink) {
    return Run("pactl get-sink-mute " + sink).find("Mute: yes") != std::string::npos;
}

PactlVolume PactlSinkVolume(const std::string& sink) {
    // "Volume: front-left: 65536 / 100% / 0.00 dB,   front-right: 65536 / 100% / 0.00 dB"
    const std::string text = Run("pactl get-sink-volume " + sink);
    const std::regex channel(R"((\d+) / +(\d+)%)");
    PactlVolume volume;
    for (std::sregex_iterator it(text.begin(), text.end(), channel), end; it != end; ++it) {
        volume.raw.push_back(static_cast<std::uint32_t>(std::stoul((*it)[1])));
        volume.percents.push_back(std::stoi((*it)[2]));
    }
    return volume;
}

std::string LoadNullSink(const std::string& name) {
    std::string index = Run("pactl load-module module-null-sink sink_name=" + name +
                            " sink_properties=monitor.channel-volumes=false");
    while (!index.empty() && (index.back() == '\n' || index.back() == ' ')) {
        index.pop_back();
    }
    return index;
}

void UnloadModule(const std::string& index) {
    Run("pactl unload-module " + index);
}

bool SetDefaultSink(const std::string& sink, std::chrono::milliseconds timeout) {
    return PollUntil(
        [&] {
            Run("pactl set-default-sink " + sink);
            return Run("pactl get-default-sink") == sink + "\n";
        },
        timeout);
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hushwell-e2e.XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteToneWav(const std::filesystem::path& path, std::uint32_t rate, std::uint16_t channels,
                  double frequency, double amplitude, double seconds) {
    const auto frames = static_cast<std::uint32_t>(rate * seconds);
    const std::uint32_t dataBytes = frames * channels * 2;
    std::vector<char> file;
    file.insert(file.end(), {'R', 'I', 'F', 'F'});
    PutLe(file, 36 + dataBytes, 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(file, 16, 4);
    PutLe(file, 1, 2);
    PutLe(file, channels, 2);
    PutLe(file, rate, 4);
    PutLe(file, rate * channels * 2, 4);
    PutLe(file, channels * 2, 2);
    PutLe(file, 16, 2);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    PutLe(file, dataBytes, 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double value = amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / rate);
        const auto sample = static_cast<std::int16_t>(std::lround(value * 32767.0));
        for (std::uint16_t c = 0; c < channels; ++c) {
            PutLe(file, static_cast<std::uint16_t>(sample), 2);
        }
    }
    std::ofstream(path, std::ios::binary)
        .write(file.data(), static_cast<std::streamsize>(file.size()));
}

std::vector<float> ReadFloats(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

double ToneAmplitude(const std::vector<float>& samples, std::uint32_t rate, double frequency) {
    if (samples.empty()) {
        return 0.0;
    }
    const double w = 2.0 * std::numbers::pi * frequency / rate;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (float x : samples) {
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / samples.size();
}

double Rms(const std::vector<float>& samples) {
    if (samples.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (float x : samples) {
        sum += static_cast<double>(x) * x;
    }
    return std::sqrt(sum / samples.size());
}

std::vector<float> LoudestWindow(const std::vector<float>& samples, std::size_t length) {
    if (samples.size() <= length) {
        return samples;
    }
    const std::size_t step = std::max<std::size_t>(1, length / 10);
    std::size_t best = 0;
    double bestRms = -1.0;
    for (std::size_t start = 0; start + length <= samples.size(); start += step) {
        const std::vector<float> window(
            samples.begin() + static_cast<std::ptrdiff_t>(start),
            samples.begin() + static_cast<std::ptrdiff_t>(start + length));
        const double rms = Rms(window);
        if (rms > bestRms) {
            bestRms = rms;
            best = start;
        }
    }
    return std::vector<float>(samples.begin() + static_cast<std::ptrdiff_t>(best),
                              samples.begin() + static_cast<std::ptrdiff_t>(best + length));
}

}  // namespace hushwell::e2e
