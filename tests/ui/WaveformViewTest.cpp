#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

#include "ui/WaveformAxes.h"
#include "ui/WaveformGeometry.h"
#include "ui/WaveformSamples.h"
#include "ui/WaveformView.h"

namespace hushwell {

namespace {

constexpr int kRate = 48000;
const QSize kViewSize(640, 320);

std::shared_ptr<WaveData> Pcm16Sound(int channels, std::vector<std::int16_t> samples) {
    auto sound = std::make_shared<WaveData>();
    const int frames = static_cast<int>(samples.size()) / channels;
    sound->AssignPcm16(kRate, channels, frames, samples);
    return sound;
}

std::shared_ptr<WaveData> FloatSound(const std::vector<float>& samples) {
    auto sound = std::make_shared<WaveData>();
    sound->Format().formatTag = kWaveTagIeeeFloat;
    sound->Format().channels = 1;
    sound->Format().sampleRate = kRate;
    sound->Format().bitsPerSample = 32;
    sound->Format().blockAlign = 4;
    sound->ClassifySampleKind();
    std::vector<std::uint32_t> words;
    for (float s : samples) {
        words.push_back(std::bit_cast<std::uint32_t>(s));
    }
    sound->SetSamples32(std::move(words));
    return sound;
}

// Three seconds of stereo that looks like something recorded: a quiet noise floor, a
// decaying plucked tone, a tremolo note and a burst of noise.
std::shared_ptr<WaveData> ThreeSecondSound() {
    const int frames = 3 * kRate;
    std::vector<std::int16_t> samples;
    samples.reserve(static_cast<std::size_t>(frames) * 2);
    unsigned noise = 12345;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        noise = noise * 1103515245u + 12345u;
        const double random = static_cast<double>((noise >> 16) & 0x7fff) / 16384.0 - 1.0;
        double v = 0.01 * random;
        if (t >= 0.3 && t < 1.1) {
            v += 0.7 * std::exp(-(t - 0.3) * 5) * std::sin(2 * std::numbers::pi * 180 * t);
        }
        if (t >= 1.3 && t < 2.0) {
            v += 0.3 * (0.6 + 0.4 * std::sin(2 * std::numbers::pi * 6 * t)) *
                 std::sin(2 * std::numbers::pi * 440 * t);
        }
        if (t >= 2.2 && t < 2.8) {
            v += 0.45 * std::sin(std::numbers::pi * (t - 2.2) / 0.6) * random;
        }
        const auto left = static_cast<std::int16_t>(std::lround(v * 32767));
        samples.push_back(left);
        samples.push_back(static_cast<std::int16_t>(left / 2));
    }
    return Pcm16Sound(2, std::move(samples));
}

void SendMouse(QWidget& widget, QEvent::Type type, int x, Qt::MouseButtons held) {
    const QPointF at(x, widget.height() / 2);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

// The x of a fraction of the whole sound while the whole sound is in view.
int XOf(const WaveformView& view, double fraction) {
    const PlotBox& plot = view.Plot();
    return plot.left + 1 + static_cast<int>(std::lround(fraction * plot.InnerWidth()));
}

void Drag(WaveformView& view, double from, double to) {
    SendMouse(view, QEvent::MouseButtonPress, XOf(view, from), Qt::LeftButton);
    SendMouse(view, QEvent::MouseMove, XOf(view, (from + to) / 2), Qt::LeftButton);
    SendMouse(view, QEvent::MouseButtonRelease, XOf(view, to), Qt::NoButton);
}

}  // namespace

class WaveformViewTest : public QObject {
    Q_OBJECT
private slots:
    void amplitudeStepsTicksAndLabels() {
        QCOMPARE(AmplitudeStep(0.019), 0.01);
        QCOMPARE(AmplitudeStep(0.02), 0.02);
        QCOMPARE(AmplitudeStep(0.07), 0.05);
        QCOMPARE(AmplitudeStep(0.1), 0.1);
        QCOMPARE(AmplitudeStep(0.3), 0.2);
        QCOMPARE(AmplitudeStep(0.58), 0.5);
        QCOMPARE(AmplitudeStep(1.0), 1.0);

        QCOMPARE(AmplitudeLabel(0.0), std::string("0 "));
        QCOMPARE(AmplitudeLabel(0.04), std::string(".04 "));
        QCOMPARE(AmplitudeLabel(-0.05), std::string("-.05 "));
        QCOMPARE(AmplitudeLabel(0.3), std::string("0.3 "));
        QCOMPARE(AmplitudeLabel(-0.5), std::string("-0.5 "));
        QCOMPARE(AmplitudeLabel(-1.0), std::string("-1 "));

        // The range of a half-scale sound: three labelled ticks, each with a mark.
        const auto half = AmplitudeTicks(-0.58, 0.58);
        QCOMPARE(half.size(), std::size_t{3});
        QCOMPARE(half[0].label, std::string("-0.5 "));
        QCOMPARE(half[1].label, std::string("0 "));
        QVERIFY(half[0].mark && half[1].mark && half[2].mark);
        // The range's own ends are labelled without a mark.
        const auto full = AmplitudeTicks(-1.0, 1.0);
        QCOMPARE(full.size(), std::size_t{3});
        QVERIFY(!full[0].mark && full[1].mark && !full[2].mark);
        const auto quiet = AmplitudeTicks(-0.03, 0.03);  // step 0.02: -.02, 0, .02
        QCOMPARE(quiet.size(), std::size_t{3});
        QCOMPARE(quiet[2].label, std::string(".02 "));
    }

    void amplitudeRangeFollowsTheFirstChannelsPeak() {
        QCOMPARE(AmplitudeRangeOf(*Pcm16Sound(1, std::vector<std::int16_t>(100, 0))).yMax, 1.0);
        const AmplitudeRange half = AmplitudeRangeOf(*Pcm16Sound(1, {0, 16384, -100, 0}));
        QCOMPARE(std::round(half.yMin * 100) / 100, -0.58);
        QCOMPARE(std::round(half.yMax * 100) / 100, 0.58);
        // The loud second channel is not looked at; -32768 saturates at full range.
        QCOMPARE(
            std::round(AmplitudeRangeOf(*Pcm16Sound(2, {1000, 32767, -1000, -32768})).yMax * 1000),
            35.0);
        QCOMPARE(AmplitudeRangeOf(*Pcm16Sound(1, {-32768, 0})).yMax, 1.0);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QCOMPARE(std::round(AmplitudeRangeOf(*FloatSound({0.25f, nan, -0.5f})).yMax * 100), 58.0);
        QCOMPARE(AmplitudeRangeOf(WaveData{}).yMin, -1.0);
    }

    void timeScalesAndLabels() {
        QCOMPARE(ChooseTimeScale(0.02).major, 5);  // 20 ms
        QVERIFY(ChooseTimeScale(0.02).unit == TimeUnit::Milliseconds);
        QCOMPARE(ChooseTimeScale(0.5).major, 100);
        QCOMPARE(ChooseTimeScale(1.49).major, 200);
        QVERIFY(ChooseTimeScale(1.5).unit == TimeUnit::Seconds);
        QCOMPARE(ChooseTimeScale(3.0).major, 1);
        QCOMPARE(ChooseTimeScale(12.0).major, 2);
        QCOMPARE(ChooseTimeScale(40.0).major, 10);
        QCOMPARE(ChooseTimeScale(89.0).major, 20);
        QVERIFY(ChooseTimeScale(90.0).unit == TimeUnit::None);

        QCOMPARE(TimeLabel(ChooseTimeScale(0.5), 1200, 1.5), std::string("1.2"));
        QCOMPARE(TimeLabel(ChooseTimeScale(0.05), 1230, 1.5), std::string("1.23"));
        QCOMPARE(TimeLabel(ChooseTimeScale(0.005), 1234, 1.5), std::string("1.234"));
        QCOMPARE(TimeLabel(ChooseTimeScale(0.5), 0, 1.5), std::string("0"));
        // Steps finer than the span's decimals still give labels that differ.
        QCOMPARE(TimeLabel(ChooseTimeScale(0.025), 1235, 1.5), std::string("1.235"));
        QCOMPARE(TimeLabel(ChooseTimeScale(0.2), 1050, 1.5), std::string("1.05"));
        QCOMPARE(TimeLabel(ChooseTimeScale(40.0), 35, 40.0), std::string("35"));
        QCOMPARE(TimeLabel(ChooseTimeScale(40.0), 65, 60.0), std::string("01:05"));

        // A whole 3-second sound: majors 0..3 with a minor between each.
        const auto ticks = TimeTicks(ChooseTimeScale(3.0), 0.0, 3.0);
        QCOMPARE(ticks.size(), std::size_t{7});
        QCOMPARE(ticks[2].label, std::string("1"));
        QVERIFY(!ticks[1].major && ticks[1].label.empty());
        QVERIFY(TimeTicks(ChooseTimeScale(95.0), 0.0, 95.0).empty());
    }

    void selectionZoomAndCursorArithmetic() {
        QCOMPARE(SelectionFrames(0.75f, 0.25f, 1001), (FrameSpan{250, 750}));
        const PlotBox plot{40, 30, 542, 300};  // 500 inner columns
        const FrameSpan half{0, 4999};
        QCOMPARE(FractionAtX(41, plot, half, 10000), 0.0);
        QCOMPARE(FractionAtX(291, plot, half, 10000), 0.25);
        QCOMPARE(FractionAtX(541, plot, half, 10000), 0.5);
        QCOMPARE(FractionAtX(9000, plot, {0, 9999}, 10000), 1.0);

        const std::int64_t frames = 3 * kRate;
        // The whole sound zooms to itself without passing its last frame.
        QCOMPARE(ZoomedView(0.0f, 1.0f, frames * 2, 2, kRate), (FrameSpan{0, frames - 1}));
        const auto zoomed = ZoomedView(0.5f, 0.25f, frames * 2, 2, kRate);
        QVERIFY(zoomed && std::abs(zoomed->first - 34920) <= 1 &&
                std::abs(zoomed->last - 73080) <= 1);
        // 0.019 s after the margins, a click (a == b) and no selection change nothing.
        QVERIFY(!ZoomedView(0.5f, 0.5f + 0.0061f, frames, 1, kRate));
        QVERIFY(!ZoomedView(0.3f, 0.3f, frames, 1, kRate));
        QVERIFY(!ZoomedView(kNoSelection, kNoSelection, frames, 1, kRate));
        QVERIFY(!ZoomedView(0.0f, 1.0f, 0, 0, kRate));

        QCOMPARE(ZoomedOutView({0, 999}, frames), (FrameSpan{0, 2999}));
        QCOMPARE(ZoomedOutView({5000, 5999}, frames), (FrameSpan{4000, 6999}));
        QCOMPARE(ZoomedOutView({frames - 1000, frames - 1}, frames),
                 (FrameSpan{frames - 2000, frames - 1}));

        // A 40-second stereo view on a 4000-column plot: products beyond 32 bits stay exact.
        const std::int64_t long40 = 40 * kRate;
        const PlotBox wide{0, 0, 4002, 400};
        const FrameSpan all{0, long40 - 1};
        const auto columns = SelectionColumns(all, all, wide);
        QVERIFY(columns && columns->x1 == 1 && columns->x2 == 4001);
        QCOMPARE(CursorColumn(long40 / 2, all, all, *columns), std::optional<int>(2001));
        QVERIFY(!CursorColumn(0, all, all, *columns));
        QVERIFY(!SelectionColumns({100, 200}, {300, 999}, wide));
    }

    void columnExtentsCoverEveryFrameOfALongStereoSound() {
        const int frames = 40 * kRate;
        std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * 2, 0);
        samples[static_cast<std::size_t>(frames - 1) * 2] = 32767;  // last frame, first channel
        samples[1000 * 2 + 1] = -32768;                             // second channel only
        const auto sound = Pcm16Sound(2, std::move(samples));
        const auto extents = ColumnExtents(*sound, {0, frames - 1}, 4000);
        QCOMPARE(extents.size(), std::size_t{4000});
        QCOMPARE(extents.back().max, 32767.0f / 32768.0f);
        QCOMPARE(extents.front().min, 0.0f);
        // A view past the sound's end is cut to it.
        QCOMPARE(FrameValues(*sound, {frames - 2, frames + 50}).size(), std::size_t{2});
    }

    void dragClickAndDoubleClickSelect() {
        WaveformView view;
        view.resize(kViewSize);
        const auto sound = ThreeSecondSound();
        view.SetSound(sound, QStringLiteral("knock.wav"));
        view.grab();  // lays the plot out
        QSignalSpy selections(&view, &WaveformView::SelectionChanged);

        Drag(view, 0.75, 0.25);
        QCOMPARE(selections.count(), 2);  // the press and the end of the drag
        QVERIFY(std::fabs(view.SelectionA() - 0.75f) < 0.005f);
        QVERIFY(std::fabs(view.SelectionB() - 0.25f) < 0.005f);
        const FrameSpan dragged = view.Selection();
        QVERIFY(std::abs(dragged.first - 3 * kRate / 4) < 500);
        QVERIFY(std::abs(dragged.last - 3 * kRate * 3 / 4) < 500);

        // A release beyond the plot stops at its edge.
        SendMouse(view, QEvent::MouseButtonPress, XOf(view, 0.5), Qt::LeftButton);
        SendMouse(view, QEvent::MouseMove, view.width() + 50, Qt::LeftButton);
        SendMouse(view, QEvent::MouseButtonRelease, view.width() + 50, Qt::NoButton);
        QCOMPARE(view.SelectionB(), 1.0f);

        // A click alone leaves a == b; a press outside the plot changes nothing.
        SendMouse(view, QEvent::MouseButtonPress, XOf(view, 0.4), Qt::LeftButton);
        SendMouse(view, QEvent::MouseButtonRelease, XOf(view, 0.4), Qt::NoButton);
        QCOMPARE(view.SelectionA(), view.SelectionB());
        SendMouse(view, QEvent::MouseButtonPress, 2, Qt::LeftButton);
        SendMouse(view, QEvent::MouseMove, XOf(view, 0.9), Qt::LeftButton);
        QCOMPARE(view.SelectionA(), view.SelectionB());

        SendMouse(view, QEvent::MouseButtonDblClick, XOf(view, 0.4), Qt::LeftButton);
        QCOMPARE(view.SelectionA(), 0.0f);
        QCOMPARE(view.SelectionB(), 1.0f);
        QCOMPARE(view.Selection(), (FrameSpan{0, 3 * kRate - 1}));

        // While playing the mouse leaves the selection alone.
        view.StartPlayback([] { return std::int64_t{0}; });
        Drag(view, 0.2, 0.3);
        SendMouse(view, QEvent::MouseButtonDblClick, XOf(view, 0.4), Qt::LeftButton);
        QCOMPARE(view.SelectionB(), 1.0f);
        view.StopPlayback();
    }

    void dragRedrawsAtMostEveryFiftyMilliseconds() {
        ManualClock clock;
        WaveformView view;
        view.SetClock(clock);
        view.resize(kViewSize);
        view.SetSound(ThreeSecondSound(), QString());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        SendMouse(view, QEvent::MouseButtonPress, XOf(view, 0.1), Qt::LeftButton);
        QCoreApplication::sendPostedEvents();
        const int before = view.OverlayCompositions();
        for (int i = 1; i <= 50; ++i) {  // 500 ms of moves, one every 10 ms
            clock.AdvanceMs(10);
            SendMouse(view, QEvent::MouseMove, XOf(view, 0.1 + i * 0.01), Qt::LeftButton);
            QCoreApplication::sendPostedEvents();  // paints, but fires no timer
        }
        const int drawn = view.OverlayCompositions() - before;
        QVERIFY2(drawn >= 8 && drawn <= 10, qPrintable(QString::number(drawn)));
        SendMouse(view, QEvent::MouseButtonRelease, XOf(view, 0.6), Qt::NoButton);
    }

    void zoomKeepsItsLimits() {
        WaveformView view;
        view.resize(kViewSize);
        view.SetSound(ThreeSecondSound(), QString());
        view.grab();
        Drag(view, 0.25, 0.5);
        view.Zoom();
        const FrameSpan zoomed = view.View();
        QVERIFY(zoomed.first > 0 && zoomed.last < 3 * kRate / 2 + 3000);
        view.ZoomOut();
        view.ZoomOut();
        QCOMPARE(view.View(), (FrameSpan{0, 3 * kRate - 1}));
        const int drawings = view.grab().isNull() ? -1 : view.WaveformDrawings();
        view.ZoomOut();  // already whole: nothing to draw
        view.grab();
        QCOMPARE(view.WaveformDrawings(), drawings);
    }

    void playCursorRepaintsWithoutTheWaveform() {
        WaveformView view;
        view.resize(kViewSize);
        view.SetSound(ThreeSecondSound(), QString());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        std::int64_t position = 0;
        view.StartPlayback([&position] { return position; });
        QCoreApplication::sendPostedEvents();
        const int waveforms = view.WaveformDrawings();
        const int overlays = view.OverlayCompositions();
        QVERIFY(!view.CursorX());
        position = 3 * kRate / 2;
        QTRY_COMPARE(view.CursorX(), std::optional<int>(XOf(view, 0.5)));
        position = 3 * kRate / 2 + 4800;
        QTRY_VERIFY(view.CursorX() > XOf(view, 0.5));
        view.StopPlayback();
        QCoreApplication::processEvents();
        QCOMPARE(view.WaveformDrawings(), waveforms);
        QCOMPARE(view.OverlayCompositions(), overlays);
    }

    void emptyAndDamagedSoundsDrawWithoutCrashing() {
        WaveformView view;
        for (QSize size : {kViewSize, QSize(12, 9), QSize(0, 0)}) {
            view.resize(size);
            view.SetSound(nullptr, QString());
            view.grab();
            view.SetSound(std::make_shared<WaveData>(), QStringLiteral("empty.wav"));
            view.grab();
            // A header that claims more samples than the buffer holds.
            auto claimed = Pcm16Sound(1, {1, 2, 3});
            claimed->SetSampleCount(1'000'000);
            view.SetSound(claimed, QString());
            view.grab();
            view.Zoom();
            view.ZoomOut();
            view.SetPlayPosition(500);
        }
        QVERIFY(!view.HasSelection() || view.Frames() == 3);
    }

    void layersAreDrawnInDevicePixelsTheRightWayUp() {
        // A half-scale positive stretch then a negative one, drawn at 200 %.
        std::vector<std::int16_t> samples(kRate, 16000);
        std::fill(samples.begin() + kRate / 2, samples.end(), -16000);
        const auto sound = Pcm16Sound(1, std::move(samples));
        WaveformPlot plot(QApplication::font());
        plot.DrawWaveformLayer(sound.get(), AmplitudeRangeOf(*sound), {0, kRate - 1},
                               QStringLiteral("up.wav"), kViewSize, 2.0, 96);
        QCOMPARE(plot.WaveformLayer().size(), kViewSize * 2);
        const PlotBox& box = plot.Plot();
        const QImage& layer = plot.WaveformLayer();
        // The row of the trace in a device column (-1 when the column shows none).
        const auto traceRow = [&](int x) {
            for (int y = 2 * (box.top + 1); y < 2 * (box.bottom - 1); ++y) {
                if (QColor(layer.pixel(2 * x, y)) == QColor(WaveformPlot::kPcm16Trace)) {
                    return y;
                }
            }
            return -1;
        };
        const int middle = box.top + box.bottom;  // in device pixels
        const int quarter = box.left + box.InnerWidth() / 4;
        const int upper = traceRow(quarter);
        const int lower = traceRow(box.left + box.InnerWidth() * 3 / 4);
        QVERIFY2(upper > 0 && upper < middle - 40 && lower > middle + 40,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(upper).arg(middle).arg(lower)));
        QCOMPARE(QColor(layer.pixel(2 * quarter, (upper + middle) / 2)),
                 QColor(WaveformPlot::kFill));

        plot.ComposeOverlay(ColumnSpan{box.left + 1, quarter});
        const QColor lightened(plot.Overlay().pixel(2 * (box.left + 3), 2 * (box.bottom - 3)));
        QCOMPARE(lightened, QColor(223, 223, 223));  // fill OR the selection grey
    }

    // Writes the view with a 3-second sound and a selection to $HUSHWELL_WAVEFORM_PNG/
    // waveform-<scale>.png, for looking at; run once plain and once with QT_SCALE_FACTOR=2.
    void renderForLooking() {
        const QByteArray folder = qgetenv("HUSHWELL_WAVEFORM_PNG");
        if (folder.isEmpty()) {
            QSKIP("set HUSHWELL_WAVEFORM_PNG to a folder to render the view");
        }
        WaveformView view;
        view.resize(kViewSize);
        view.SetSound(ThreeSecondSound(), QStringLiteral("doorbell-2024-03-05.wav"));
        view.grab();
        Drag(view, 0.28, 0.55);
        view.SetPlayPosition(3 * kRate * 2 / 5);
        const int percent = static_cast<int>(std::lround(view.devicePixelRatioF() * 100));
        const QString path = QStringLiteral("%1/waveform-%2.png").arg(QString(folder)).arg(percent);
        QVERIFY(view.grab().save(path));
        // Zoomed, then down to a few frames per column and to one point per frame.
        const QString zoomed = QStringLiteral("%1/waveform-zoomed%2-%3.png");
        view.Zoom();
        QVERIFY(view.grab().save(zoomed.arg(QString(folder)).arg(1).arg(percent)));
        view.resize(1400, kViewSize.height());
        view.ZoomOut();
        view.ZoomOut();
        view.grab();
        Drag(view, 0.45, 0.46);  // 30 ms
        view.Zoom();
        QVERIFY(view.grab().save(zoomed.arg(QString(folder)).arg(2).arg(percent)));
    }
};

}  // namespace hushwell

QTEST_MAIN(hushwell::WaveformViewTest)
#include "WaveformViewTest.moc"
