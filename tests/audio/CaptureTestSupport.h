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
#include "audio/CaptureOwnerSequence.h"
#include "audio/LoopbackCapture.h"
#include "base/Event.h"
#include "tests/support/Eventually.h"
#include "wav/WaveFormat.h"

namespace hushwell::test {

// Mix-format bytes whose every frame is told apart by its index (from `firstFrame` on), the
// same value on each channel: 16-bit samples count modulo 32768, float samples count in
// thousandths modulo 1. Lets a test check that audio arrives whole and in order.
inline std::vector<std::uint8_t> CounterBytes(const WaveFormat& format, std::uint64_t firstFrame,
                                              std::uint64_t frames) {
    const std::size_t sampleBytes = format.bitsPerSample / 8;
    std::vector<std::uint8_t> bytes(frames * format.channels * sampleBytes);
    std::uint8_t* out = bytes.data();
    for (std::uint64_t index = firstFrame; index < firstFrame + frames; ++index) {
        const auto pcm = static_cast<std::int16_t>(index % 32768);
        const auto real = static_cast<float>(index % 1000) / 1000.0f;
        for (std::uint16_t c = 0; c < format.channels; ++c, out += sampleBytes) {
            std::memcpy(out, sampleBytes == 2 ? static_cast<const void*>(&pcm) : &real,
                        sampleBytes);
        }
    }
    return bytes;
}

using testing::Eventually;

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
    AudioResult GetBufferSize(std::uint32_t& n) override { return inner_->GetBufferSize(n); }
    AudioResult SetEventHandle(std::shared_ptr<Event> e) override {
        return inner_->SetEventHandle(std::move(e));
    }
    AudioResult GetDevicePeriod(std::int64_t& p) override { return inner_->GetDevicePeriod(p); }
    AudioResult GetCurrentPadding(std::uint32_t& n) override {
        return inner_->GetCurrentPadding(n);
    }
    AudioResult GetCaptureClient(std::unique_ptr<CaptureClient>& c) override {
        return inner_->GetCaptureClient(c);
    }
    AudioResult GetRenderClient(std::unique_ptr<RenderClient>& r) override {
        return inner_->GetRenderClient(r);
    }
    AudioResult GetSessionControl(std::unique_ptr<AudioSessionControl>& s) override {
        return inner_->GetSessionControl(s);
    }
    AudioResult Start() override { return inner_->Start(); }
    AudioResult Stop() override { return inner_->Stop(); }

private:
    std::unique_ptr<AudioClient> inner_;
    WaveFormat format_;
};

// A backend in front of another that counts audio-client activations, can make chosen devices
// report another mix format than they run (a format no simulated device can have), and can
// fail the next default-output queries.
class SpyBackend final : public AudioBackend {
public:
    explicit SpyBackend(AudioBackend& inner) : inner_(inner) {}

    AudioResult GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) override {
        if (failDefaults.load() > 0) {
            --failDefaults;
            afterFailedDefault();
            return AudioResult::NotFound;
        }
        std::shared_ptr<AudioEndpoint> inner;
        const AudioResult result = inner_.GetDefaultAudioEndpoint(inner);
        if (result == AudioResult::Ok) {
            endpoint = std::make_shared<Endpoint>(std::move(inner), *this);
        }
        return result;
    }
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

    void OverrideMixFormat(const std::string& id, const WaveFormat& format) {
        std::lock_guard lock(mutex_);
        overrides_[id] = format;
    }

    std::atomic<int> activations{0};
    // The next `failDefaults` default-output queries give NotFound, each followed by a call of
    // `afterFailedDefault` (set it before failing any).
    std::atomic<int> failDefaults{0};
    std::function<void()> afterFailedDefault;

private:
    class Endpoint final : public AudioEndpoint {
    public:
        Endpoint(std::shared_ptr<AudioEndpoint> inner, SpyBackend& spy)
            : inner_(std::move(inner)), spy_(spy) {}
        std::string GetId() const override { return inner_->GetId(); }
        AudioResult ActivateAudioClient(std::unique_ptr<AudioClient>& client) override {
            ++spy_.activations;
            const AudioResult result = inner_->ActivateAudioClient(client);
            std::lock_guard lock(spy_.mutex_);
            const auto found = spy_.overrides_.find(GetId());
            if (result == AudioResult::Ok && found != spy_.overrides_.end()) {
                client = std::make_unique<FormatClient>(std::move(client), found->second);
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

    AudioBackend& inner_;
    std::mutex mutex_;
    std::map<std::string, WaveFormat> overrides_;
};

// The owner's side as the detection engine plays it: a capture slot under a capture lock, a
// runner thread that runs one capture session, and the stop request. With `onFeed`, it is the
// feed listener of the capture object (called on the capture thread, outside the lock).
class CaptureOwner {
public:
    explicit CaptureOwner(AudioBackend& backend,
                          std::function<void(LoopbackCapture&)> onFeed = {}) {
        runner_ = std::thread([this, &backend, onFeed = std::move(onFeed)] {
            CaptureOwnerHooks hooks;
            hooks.publish = [this, &onFeed](LoopbackCapture* capture) {
                std::lock_guard lock(mutex_);
                if (capture != nullptr && stopping_) {
                    return false;
                }
                if (capture != nullptr && onFeed) {
                    capture->SetFeedListener([capture, &onFeed] { onFeed(*capture); });
                }
                slot_ = capture;
                return true;
            };
            hooks.started = [this] { started_.Set(); };
            end_ = RunCaptureSession(backend, hooks);
            ended_.Set();
        });
    }
    ~CaptureOwner() {
        if (runner_.joinable()) {
            Stop();
        }
    }

    // Waits until capture has started (true) or the session ended without starting (false).
    bool WaitStarted() {
        const auto woken = WaitForAny({&started_, &ended_}, std::chrono::seconds(20));
        return woken && *woken == 0;
    }
    // Stops capture under the capture lock and waits for the runner; returns how it ended.
    CaptureSessionEnd Stop() {
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
    // Waits for the session to end by itself.
    bool WaitEnded(std::chrono::milliseconds deadline = std::chrono::milliseconds(20000)) {
        return ended_.Wait(deadline);
    }
    CaptureSessionEnd End() const { return end_.load(); }

    // Runs `f` with the object under the capture lock (nullptr when the slot is empty).
    template <typename F>
    auto With(F f) {
        std::lock_guard lock(mutex_);
        return f(slot_);
    }

private:
    std::mutex mutex_;
    LoopbackCapture* slot_ = nullptr;
    bool stopping_ = false;
    Event started_{Event::Mode::ManualReset};
    Event ended_{Event::Mode::ManualReset};
    std::atomic<CaptureSessionEnd> end_{CaptureSessionEnd::Refused};
    std::thread runner_;
};

}  // namespace hushwell::test
