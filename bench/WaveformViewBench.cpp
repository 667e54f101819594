// Drawing of the waveform view for the longest sound the capture history holds: 40 seconds
// of 48 kHz stereo. Full redraws of the waveform layer (every load, zoom and zoom out), the
// overlay (every selection change) and the play cursor (every 50 ms while playing).
// Run with QT_QPA_PLATFORM=offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "ui/WaveformPlot.h"
#include "ui/WaveformView.h"

namespace hushwell {
namespace {

constexpr int kRate = 48000;
constexpr int kSeconds = 40;
constexpr int kFrames = kRate * kSeconds;
constexpr int kChannels = 2;
constexpr int kPlotHeight = 400;
constexpr int kLogicalDpi = 96;

// Music-like content: two tones, a slow swell and a little noise, different on each channel.
std::shared_ptr<const WaveData> LongestSound() {
    static const std::shared_ptr<const WaveData> sound = [] {
        std::vector<std::int16_t> samples;
        samples.reserve(static_cast<std::size_t>(kFrames) * kChannels);
        unsigned noise = 1;
        for (int i = 0; i < kFrames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            noise = noise * 1103515245u + 12345u;
            const double swell = 0.5 + 0.4 * std::sin(2 * std::numbers::pi * 0.25 * t);
            const double v = swell * (0.6 * std::sin(2 * std::numbers::pi * 220 * t) +
                                      0.3 * std::sin(2 * std::numbers::pi * 1375 * t)) +
                             0.02 * (static_cast<double>((noise >> 16) & 0x7fff) / 16384.0 - 1.0);
            samples.push_back(static_cast<std::int16_t>(std::lround(v * 30000)));
            samples.push_back(static_cast<std::int16_t>(std::lround(v * 20000)));
        }
        auto data = std::make_shared<WaveData>();
        data->AssignPcm16(kRate, kChannels, kFrames, samples);
        return data;
    }();
    return sound;
}

// The region whose plot rectangle is about the given number of columns wide.
QSize RegionFor(int plotWidth) {
    return {plotWidth + 60, kPlotHeight};
}

// args: plot width, frames in view.
void BM_WaveformLayerRedraw(benchmark::State& state) {
    const auto sound = LongestSound();
    WaveformPlot plot(QApplication::font());
    const AmplitudeRange range = AmplitudeRangeOf(*sound);
    const FrameSpan view{0, state.range(1) - 1};
    const QSize region = RegionFor(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        plot.DrawWaveformLayer(sound.get(), range, view, QStringLiteral("recording.wav"), region,
                               1.0, kLogicalDpi);
        benchmark::DoNotOptimize(plot.WaveformLayer().constBits());
    }
}
BENCHMARK(BM_WaveformLayerRedraw)
    ->Args({1000, kFrames})
    ->Args({4000, kFrames})
    ->Args({4000, kRate * 2})   // zoomed to two seconds
    ->Args({4000, kRate / 20})  // zoomed to 50 ms: one point per frame
    ->Unit(benchmark::kMillisecond);

// Once per sound shown: the peak of the first channel.
void BM_AmplitudeRange(benchmark::State& state) {
    const auto sound = LongestSound();
    for (auto _ : state) {
        benchmark::DoNotOptimize(AmplitudeRangeOf(*sound));
    }
}
BENCHMARK(BM_AmplitudeRange)->Unit(benchmark::kMillisecond);

void BM_OverlayCompose(benchmark::State& state) {
    const auto sound = LongestSound();
    WaveformPlot plot(QApplication::font());
    plot.DrawWaveformLayer(sound.get(), AmplitudeRangeOf(*sound), {0, kFrames - 1}, QString(),
                           RegionFor(static_cast<int>(state.range(0))), 1.0, kLogicalDpi);
    const PlotBox& box = plot.Plot();
    for (auto _ : state) {
        plot.ComposeOverlay(ColumnSpan{box.left + 10, box.right - 10});
        benchmark::DoNotOptimize(plot.Overlay().constBits());
    }
}
BENCHMARK(BM_OverlayCompose)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

// One step of the play cursor: a new position and the paint of its old and new columns.
void BM_CursorRedraw(benchmark::State& state) {
    WaveformView view;
    view.resize(RegionFor(static_cast<int>(state.range(0))));
    view.SetSound(LongestSound(), QStringLiteral("recording.wav"));
    view.show();
    QCoreApplication::processEvents();
    const int waveformDrawings = view.WaveformDrawings();
    const std::int64_t step = kFrames / state.range(0) + 1;  // one column further each time
    std::int64_t position = 1;
    for (auto _ : state) {
        position = position + step < kFrames - 2 ? position + step : 1;
        view.SetPlayPosition(position);
        QCoreApplication::sendPostedEvents();
    }
    if (view.WaveformDrawings() != waveformDrawings) {
        state.SkipWithError("the cursor redrew the waveform");
    }
}
BENCHMARK(BM_CursorRedraw)->Arg(1000)->Arg(4000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace hushwell

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
