#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioBackend.h"
#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/CWASAPICaptureLoopback.h"
#include "audio/CaptureOwnerSequence.h"
#include "audio/Event.h"
#include "detection/WaveFormat.h"

namespace hushwell::test {

// Mix-format bytes whose every frame is told apart by its index (from `firstFrame` on), the
// same value on each channel: 16-bit samples count modulo 32768, float samples count in
// thousandths modulo 1. Lets a test check that audio arrives whole and in order.
std::vector<std::uint8_t> CounterBytes(const WaveFormat& format, std::uint64_t firstFrame,
                                       std::uint64_t frames);

// Waits until `condition` holds, checking every millisecond; false at the deadline.
template <typename Condition>
bool WaitFor(Condition condition,
             std::chrono::milliseconds deadline = std::chrono::milliseconds(20000)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A backend in front of another that counts audio-client activations and can make chosen
// devices report another mix format than they run (a format no simulated device can have).
class SpyBackend final : public AudioBackend {
public:
    explicit SpyBackend(AudioBackend& inner) : inner_(inner) {}

    AudioResult GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) override;
    AudioResult EnumAudioEndpoints(std::vector<std::string>& ids) override {
        return inner_.EnumAudioEndpoints(ids);
    }
    AudioResult RegisterEndpointNotificationCallback(EndpointNotificationClient* c) override {
        return inner_.RegisterEndpointNotificationCallback(c);
    }
    AudioResult UnregisterEndpointNotificationCallback(EndpointNotificationClient* c) override {
        return inner_.UnregisterEndpointNotificationCallback(c);
    }
    AudioResult QueryServerName(std::string& name) override { return inner_.QueryServerName(name); }

    void OverrideMixFormat(const std::string& id, const WaveFormat& format);
    bool MixFormatOverride(const std::string& id, WaveFormat& format) const;
    std::atomic<int> activations{0};
    // The next `failDefaults` default-output queries give NotFound, each followed by a call of
    // `afterFailedDefault` (set it before failing any).
    std::atomic<int> failDefaults{0};
    std::function<void()> afterFailedDefault;

private:
    AudioBackend& inner_;
    mutable std::mutex mutex_;
    std::map<std::string, WaveFormat> overrides_;
};

// The owner's side as the detection engine plays it: a capture slot under a capture lock, a
// runner thread that runs one capture session, and the stop request.
class CaptureOwner {
public:
    explicit CaptureOwner(AudioBackend& backend);
    ~CaptureOwner();

    // Waits until capture has started (true) or the session ended without starting (false).
    bool WaitStarted();
    // Stops capture under the capture lock and waits for the runner; returns how it ended.
    CaptureSessionEnd Stop();
    // Waits for the session to end by itself.
    bool WaitEnded(std::chrono::milliseconds deadline = std::chrono::milliseconds(20000));
    CaptureSessionEnd End() const { return end_.load(); }

    // Runs `f` with the object under the capture lock (nullptr when the slot is empty).
    template <typename F>
    auto With(F f) {
        std::lock_guard lock(mutex_);
        return f(slot_);
    }

private:
    std::mutex mutex_;
    CWASAPICaptureLoopback* slot_ = nullptr;
    bool stopping_ = false;
    Event started_{Event::Mode::ManualReset};
    Event ended_{Event::Mode::ManualReset};
    std::atomic<CaptureSessionEnd> end_{CaptureSessionEnd::Refused};
    std::thread runner_;
};

// ---- definitions

namespace detail {

// An audio client that reports a chosen mix format and forwards everything else.
class FormatClient final : public AudioClient {
public:
    FormatClient(std::unique_ptr<AudioClient> inner, const WaveFormat& format)
        : inner_(std::move(inner)), format_(format) {}
    AudioResult GetMixFormat(WaveFormat& format) override {
        format = format_;
        return AudioResult::Ok;
    }
    AudioResult Initialize(std::uint32_t flags, std::int64_t duration,
                           const WaveFormat& format) override {
        return inner_->Initialize(flags, duration, format);
    }
    AudioResult GetBufferSize(std::uint32_t& frames) override {
        return inner_->GetBufferSize(frames);
    }
    AudioResult SetEventHandle(std::shared_ptr<Event> event) override {
        return inner_->SetEventHandle(std::move(event));
    }
    AudioResult GetDevicePeriod(std::int64_t& period) override {
        return inner_->GetDevicePeriod(period);
    }
    AudioResult GetCurrentPadding(std::uint32_t& frames) override {
        return inner_->GetCurrentPadding(frames);
    }
    AudioResult GetCaptureClient(std::unique_ptr<CaptureClient>& capture) override {
        return inner_->GetCaptureClient(capture);
    }
    AudioResult GetRenderClient(std::unique_ptr<RenderClient>& render) override {
        return inner_->GetRenderClient(render);
    }
    AudioResult GetSessionControl(std::unique_ptr<AudioSessionControl>& session) override {
        return inner_->GetSessionControl(session);
    }
    AudioResult Start() override { return inner_->Start(); }
    AudioResult Stop() override { return inner_->Stop(); }

private:
    std::unique_ptr<AudioClient> inner_;
    WaveFormat format_;
};

class SpyEndpoint final : public AudioEndpoint {
public:
    SpyEndpoint(std::shared_ptr<AudioEndpoint> inner, SpyBackend& spy)
        : inner_(std::move(inner)), spy_(spy) {}
    std::string GetId() const override { return inner_->GetId(); }
    AudioResult ActivateAudioClient(std::unique_ptr<AudioClient>& client) override {
        ++spy_.activations;
        const AudioResult result = inner_->ActivateAudioClient(client);
        WaveFormat format;
        if (result == AudioResult::Ok && spy_.MixFormatOverride(GetId(), format)) {
            client = std::make_unique<FormatClient>(std::move(client), format);
        }
        return result;
    }
    AudioResult ActivateEndpointVolume(std::unique_ptr<EndpointVolume>& volume) override {
        return inner_->ActivateEndpointVolume(volume);
    }

private:
    std::shared_ptr<AudioEndpoint> inner_;
    SpyBackend& spy_;
};

}  // namespace detail

inline std::vector<std::uint8_t> CounterBytes(const WaveFormat& format, std::uint64_t firstFrame,
                                              std::uint64_t frames) {
    const std::size_t sampleBytes = format.bitsPerSample / 8;
    std::vector<std::uint8_t> bytes(frames * format.channels * sampleBytes);
    std::uint8_t* out = bytes.data();
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint64_t index = firstFrame + i;
        for (std::uint16_t c = 0; c < format.channels; ++c) {
            if (sampleBytes == 2) {
                const auto value = static_cast<std::int16_t>(index % 32768);
                std::memcpy(out, &value, sizeof value);
            } else {
                const auto value = static_cast<float>(index % 1000) / 1000.0f;
                std::memcpy(out, &value, sizeof value);
            }
            out += sampleBytes;
        }
    }
    return bytes;
}

inline AudioResult SpyBackend::GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) {
    if (failDefaults.load() > 0) {
        --failDefaults;
        if (afterFailedDefault) {
            afterFailedDefault();
        }
        return AudioResult::NotFound;
    }
    std::shared_ptr<AudioEndpoint> inner;
    const AudioResult result = inner_.GetDefaultAudioEndpoint(inner);
    if (result == AudioResult::Ok) {
        endpoint = std::make_shared<detail::SpyEndpoint>(std::move(inner), *this);
    }
    return result;
}

inline void SpyBackend::OverrideMixFormat(const std::string& id, const WaveFormat& format) {
    std::lock_guard lock(mutex_);
    overrides_[id] = format;
}

inline bool SpyBackend::MixFormatOverride(const std::string& id, WaveFormat& format) const {
    std::lock_guard lock(mutex_);
    const auto found = overrides_.find(id);
    if (found == overrides_.end()) {
        return false;
    }
    format = found->second;
    return true;
}

inline CaptureOwner::CaptureOwner(AudioBackend& backend) {
    runner_ = std::thread([this, &backend] {
        CaptureOwnerHooks hooks;
        hooks.publish = [this](CWASAPICaptureLoopback* capture) {
            std::lock_guard lock(mutex_);
            if (capture != nullptr && stopping_) {
                return false;
            }
            slot_ = capture;
            return true;
        };
        hooks.started = [this] { started_.Set(); };
        end_ = RunCaptureSession(backend, hooks);
        ended_.Set();
    });
}

inline CaptureOwner::~CaptureOwner() {
    if (runner_.joinable()) {
        Stop();
    }
}

inline bool CaptureOwner::WaitStarted() {
    std::vector<Event*> events{&started_, &ended_};
    const auto woken = WaitForAny(events, std::chrono::seconds(20));
    return woken && *woken == 0;
}

inline CaptureSessionEnd CaptureOwner::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (slot_ != nullptr) {
            slot_->RequestShutdown();
        }
    }
    runner_.join();
    return end_;
}

inline bool CaptureOwner::WaitEnded(std::chrono::milliseconds deadline) {
    return ended_.Wait(deadline);
}

}  // namespace hushwell::test
