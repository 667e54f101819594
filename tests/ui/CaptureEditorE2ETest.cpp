// The capture page against a private PipeWire server (run inside scripts/pw-sandbox): a tone
// played with paplay while recording is in the sound the page loads at stop, at its frequency
// and level; playing that sound renders it to the output again.
#include <QTest>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "audio/LoopbackCapture.h"
#include "audio/pulse/PulseBackend.h"
#include "tests/audio/CaptureTestSupport.h"
#include "tests/support/SandboxTools.h"
#include "ui/CaptureEditor.h"
#include "ui/CaptureSelection.h"
#include "ui/WaveformView.h"

namespace hushwell {

namespace {

constexpr double kFrequency = 1000.0;
constexpr double kAmplitude = 0.5;
constexpr int kGenerousMs = 30000;
constexpr std::uint64_t kTailFrames = 48000 / 4;  // a quarter second at the sandbox's rate

// Channel 0 of a 16-bit sound, as floats of full scale 1.
std::vector<float> FirstChannel(const WaveData& sound) {
    std::vector<float> mono;
    const int channels = sound.Format().channels;
    const auto samples = sound.Samples16();
    for (std::size_t i = 0; i < samples.size(); i += static_cast<std::size_t>(channels)) {
        mono.push_back(static_cast<float>(samples[i]) / 32767.0f);
    }
    return mono;
}

}  // namespace

class CaptureEditorE2ETest : public QObject {
    Q_OBJECT

private slots:
    void toneRecordedThroughTheHistoryIsTheLoadedSound() {
        const std::string sink = e2e::SandboxSink();
        if (sink.empty()) {
            QSKIP("needs the private sound server: run through scripts/pw-sandbox");
        }
        PulseBackendOptions options;
        options.warn = [](const std::string&) {};
        PulseBackend backend(options);
        test::CaptureOwner owner(backend);
        QVERIFY(owner.WaitStarted());

        CaptureEditor::Setup setup;
        setup.capture = [&owner](const std::function<void(LoopbackCapture*)>& use) {
            owner.With([&](LoopbackCapture* capture) {
                use(capture);
                return 0;
            });
        };
        setup.backend = &backend;
        {
            CaptureEditor page(std::move(setup));
            page.SetMessageSink(
                [](const QString& text, CaptureEditor::MessageIcon) { QFAIL(qPrintable(text)); });

            e2e::TempFolder folder;
            const auto wav = folder.Path() / "tone.wav";
            e2e::WriteToneWav(wav, 48000, 2, kFrequency, kAmplitude, 1.5);
            page.OnCommand(CaptureEditor::kRecord);
            std::atomic<bool> played{false};
            std::thread player([&] {
                e2e::Run("paplay -d " + sink + " " + wav.string());
                played = true;
            });
            QTRY_VERIFY_WITH_TIMEOUT(played.load(), kGenerousMs);
            player.join();
            // The tail of the tone reaches the capture within its next few packets.
            const auto captured = [&owner] {
                return owner.With([](LoopbackCapture* c) {
                    return c != nullptr ? c->CapturedFrames() : std::uint64_t{0};
                });
            };
            const std::uint64_t afterPlay = captured();
            QTRY_VERIFY_WITH_TIMEOUT(captured() > afterPlay + kTailFrames, kGenerousMs);
            page.OnCommand(CaptureEditor::kStop);
            QTRY_VERIFY_WITH_TIMEOUT(!page.IsBusy(), kGenerousMs);

            const auto sound = page.Sound();
            QVERIFY(sound != nullptr);
            const std::uint32_t rate = sound->Format().sampleRate;
            const std::vector<float> mono = FirstChannel(*sound);
            QVERIFY(mono.size() >= rate * 3 / 2);
            const std::vector<float> window = e2e::LoudestWindow(mono, rate);
            QVERIFY(std::abs(e2e::ToneAmplitude(window, rate, kFrequency) - kAmplitude) < 0.05);
            QVERIFY(e2e::ToneAmplitude(window, rate, kFrequency * 1.5) < 0.02);
            QVERIFY(std::abs(e2e::Rms(window) - kAmplitude / std::sqrt(2.0)) < 0.05);

            // The recording plays to its end on the output.
            const auto frames = static_cast<double>(FramesOf(*sound));
            page.View().SetSelection(static_cast<float>(1.0 - rate / 2.0 / frames), 1.0f);
            page.OnCommand(CaptureEditor::kPlay);
            QVERIFY(page.IsPlaying());
            QTRY_VERIFY_WITH_TIMEOUT(!page.IsPlaying(), kGenerousMs);
        }
        QCOMPARE(owner.Stop(), CaptureSessionEnd::Stopped);
    }
};

}  // namespace hushwell

QTEST_MAIN(hushwell::CaptureEditorE2ETest)
#include "CaptureEditorE2ETest.moc"
