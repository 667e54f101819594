// The sound editor page on the simulated sound system: button states through record, stop,
// play and pause; selections and saving; refused files; record-and-save; the elapsed clock.
#include <QApplication>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

#include "audio/LoopbackCapture.h"
#include "audio/MixFormat.h"
#include "audio/SoundPlayer.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "persistence/ConfigFile.h"
#include "persistence/Settings.h"
#include "tests/audio/CaptureTestSupport.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "triggers/TriggerList.h"
#include "ui/CaptureEditor.h"
#include "ui/CaptureSelection.h"
#include "ui/SettingsWindow.h"
#include "ui/TriggerEditor.h"
#include "ui/TriggerListModel.h"
#include "ui/WaveformGeometry.h"
#include "ui/WaveformView.h"
#include "wav/WaveFile.h"

namespace hushwell {
namespace {

namespace fs = std::filesystem;
using testing::Eventually;
using Page = CaptureEditor;

constexpr const char* kDevice = "out";
constexpr std::uint32_t kRate = 48000;
constexpr int kGenerousMs = 20000;

// One row of the button table: enabled, and for the four transport buttons the pressed look
// (-1 where the row does not care).
struct Row {
    bool record, stop, play, pause, open, save;
    int recordDown = -1, playDown = -1, pauseDown = -1;
};

std::vector<std::uint8_t> FloatBytes(const std::vector<float>& samples) {
    std::vector<std::uint8_t> bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// Stereo float samples whose value tells the frame: a slow ramp from -0.9 to 0.9.
std::vector<float> StereoRamp(std::uint32_t frames) {
    std::vector<float> samples;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float value = -0.9f + 1.8f * static_cast<float>(i) / static_cast<float>(frames);
        samples.push_back(value);
        samples.push_back(-value);
    }
    return samples;
}

std::shared_ptr<WaveData> MonoSound(double seconds, std::uint32_t rate = kRate) {
    const auto frames = static_cast<int>(seconds * rate);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        samples[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(8000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * i / rate));
    }
    auto sound = std::make_shared<WaveData>();
    sound->AssignPcm16(static_cast<int>(rate), 1, frames, samples);
    return sound;
}

// Mono 16-bit samples that tell their frame: frame i holds first + step x i.
std::shared_ptr<WaveData> CountingSound(int frames, int first, int step) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(first + step * i);
    }
    auto sound = std::make_shared<WaveData>();
    sound->AssignPcm16(static_cast<int>(kRate), 1, frames, samples);
    return sound;
}

// The editor's float conversion: x 32767, plus 0.5, truncated toward zero.
std::int16_t Scaled(float sample) {
    return static_cast<std::int16_t>(sample * 32767.0f + 0.5f);
}

fs::path ToStd(const QString& path) {
    return fs::path(path.toStdString());
}

bool WriteSound(const fs::path& path, const WaveData& sound) {
    return WriteWaveFile(path, sound.SampleBytes(), sound.Format());
}

}  // namespace

class CaptureEditorTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<ManualClock> clock_;
    std::unique_ptr<SimulatedBackend> sim_;
    std::unique_ptr<test::CaptureOwner> owner_;
    std::unique_ptr<Page> page_;
    Page::RecordingSettings settings_;
    QStringList messages_;
    int chooserCalls_ = 0;
    QString chosen_;

    fs::path Folder() const { return fs::path(folder_->path().toStdString()); }

    void MakePage(bool withCapture, const WaveFormat& format) {
        if (withCapture) {
            QVERIFY(sim_->AddDevice(kDevice, format));
            owner_ = std::make_unique<test::CaptureOwner>(*sim_);
            QVERIFY(owner_->WaitStarted());
        }
        Page::Setup setup;
        if (withCapture) {
            setup.capture = [this](const std::function<void(LoopbackCapture*)>& use) {
                owner_->With([&](LoopbackCapture* capture) {
                    use(capture);
                    return 0;
                });
            };
        }
        setup.backend = sim_.get();
        setup.settings = [this] { return settings_; };
        setup.triggerFolder = [this] { return Folder(); };
        setup.clock = clock_.get();
        page_ = std::make_unique<Page>(std::move(setup));
        page_->SetMessageSink([this](const QString& text, Page::MessageIcon icon) {
            messages_ << (icon == Page::MessageIcon::Error ? "error: " : "") + text;
        });
        page_->SetFileChooser([this](Page::FileDialog, const QString&) {
            ++chooserCalls_;
            return chosen_;
        });
    }

    std::uint64_t Captured() {
        return owner_->With([](LoopbackCapture* c) { return c ? c->CapturedFrames() : 0; });
    }
    // Moves the clock on and waits until the capture has taken the audio of that time.
    void AdvanceAudio(std::uint64_t ms) {
        for (std::uint64_t done = 0; done < ms; done += 500) {
            const std::uint64_t before = Captured();
            clock_->AdvanceMs(500);
            QVERIFY(Eventually([&] { return Captured() >= before + kRate / 2; }));
        }
    }

    bool Enabled(int id) const { return page_->Button(id)->isEnabled(); }
    bool Down(int id) const { return page_->Button(id)->isChecked(); }
    void ExpectRow(const Row& row, const char* state) {
        const auto check = [&](int id, bool expected, const char* name) {
            QVERIFY2(Enabled(id) == expected,
                     qPrintable(
                         QStringLiteral("%1: %2 enabled is %3").arg(state, name).arg(Enabled(id))));
        };
        check(Page::kRecord, row.record, "record");
        check(Page::kStop, row.stop, "stop");
        check(Page::kPlay, row.play, "play");
        check(Page::kPause, row.pause, "pause");
        check(Page::kOpen, row.open, "open");
        check(Page::kSave, row.save, "save");
        const auto down = [&](int id, int expected, const char* name) {
            QVERIFY2(expected < 0 || Down(id) == (expected == 1),
                     qPrintable(QStringLiteral("%1: %2 pressed look").arg(state, name)));
        };
        down(Page::kRecord, row.recordDown, "record");
        down(Page::kPlay, row.playDown, "play");
        down(Page::kPause, row.pauseDown, "pause");
    }
    void WaitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!page_->IsBusy(), kGenerousMs); }

    // A page without capture that plays on a mono 16-bit output, so that the rendered samples
    // are the sound's own.
    void MakePlayingPage() {
        QVERIFY(sim_->AddDevice(kDevice, MakeMixFormat(MixSampleType::Pcm16, kRate, 1)));
        MakePage(false, {});
    }
    // Moves the output on until it has rendered at least `samples` samples of the play; the
    // rendered samples, from the play's first.
    std::vector<std::int16_t> Render(std::size_t samples) {
        std::vector<std::int16_t> rendered;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                clock_->AdvanceMs(20);
                sim_->Pump();
                const std::vector<std::uint8_t> bytes = sim_->TakeRenderedBytes(kDevice);
                const std::size_t at = rendered.size();
                rendered.resize(at + bytes.size() / 2);
                std::memcpy(rendered.data() + at, bytes.data(), bytes.size() / 2 * 2);
                return rendered.size() >= samples;
            },
            kGenerousMs));
        return rendered;
    }
    // Plays, lets some of it be heard and pauses; the next play would resume there.
    void PlaySomeAndPause() {
        page_->OnCommand(Page::kPlay);
        QVERIFY(Render(kRate / 10).size() >= kRate / 10);
        page_->OnCommand(Page::kPause);
        QTRY_VERIFY_WITH_TIMEOUT(!page_->IsPlaying(), kGenerousMs);
        sim_->TakeRenderedBytes(kDevice);
    }
    // The first sample the next play renders.
    std::int16_t FirstSampleOfPlay() {
        page_->OnCommand(Page::kPlay);
        const std::vector<std::int16_t> rendered = Render(1);
        page_->OnCommand(Page::kStop);
        static_cast<void>(QTest::qWaitFor([this] { return !page_->IsPlaying(); }, kGenerousMs));
        sim_->TakeRenderedBytes(kDevice);
        return page_->IsPlaying() || rendered.empty() ? std::int16_t{-32768} : rendered.front();
    }

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        clock_ = std::make_unique<ManualClock>(1000000, LocalTime{2026, 12, 5, 14, 3, 9, 6});
        sim_ = std::make_unique<SimulatedBackend>(*clock_);
        settings_ = {};
        messages_.clear();
        chooserCalls_ = 0;
        chosen_.clear();
    }

    void cleanup() {
        page_.reset();
        owner_.reset();
        sim_.reset();
    }

    void buttonsHaveTipsNamesAndTheInitialStates() {
        MakePage(false, {});
        for (int id : {Page::kRecord, Page::kStop, Page::kPlay, Page::kPause, Page::kOpen,
                       Page::kSave, Page::kZoom, Page::kZoomOut, Page::kRecordAndSave,
                       Page::kRegister, Page::kStopClock}) {
            QAbstractButton* button = page_->Button(id);
            QVERIFY(button != nullptr);
            QVERIFY(!button->toolTip().isEmpty());
            QCOMPARE(button->accessibleName(), button->toolTip());
        }
        QCOMPARE(page_->Button(Page::kRecordAndSave)->toolTip(), QStringLiteral("record & save"));
        QCOMPARE(page_->Button(Page::kRegister)->toolTip(),
                 QStringLiteral("append to the control list"));
        ExpectRow({true, false, false, false, true, false}, "initial");
        QVERIFY(!Enabled(Page::kRegister));
        QVERIFY(!Enabled(Page::kStopClock));
        QCOMPARE(page_->Button(Page::kStopClock)->text(), QStringLiteral("00:00:00"));
        // Shown alone, the page is its own window and keeps the editor's minimum size.
        page_->show();
        QCOMPARE(page_->minimumSize(), QSize(Page::kMinimumWidth, Page::kMinimumHeight));

        // A tip comes up when the pointer rests on a button.
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(page_->Button(Page::kOpen), &enter);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("open a wav file"));
    }

    // The table of button states from a recording through play, pause, play, stop and a play
    // that runs to its end; the recorded sound is the history, converted from float.
    // The try button on a sound with two occurrences of a beep and one near miss (a tone 3.7 %
    // higher: the same band pattern, other peaks): two firings and one rejected candidate are
    // marked where detection decided them, each with the trigger's name and its score.
    void tryTheTriggersMarksFiringsAndTheNearMiss() {
        constexpr double kBeepHz = 906.25;  // on the bin of band 3
        const auto tone = [](double hz, double seconds) {
            std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kRate));
            for (std::size_t i = 0; i < samples.size(); ++i) {
                samples[i] =
                    static_cast<std::int16_t>(8000.0 * std::sin(2.0 * std::numbers::pi * hz *
                                                                static_cast<double>(i) / kRate));
            }
            return samples;
        };
        WaveData beep;
        const std::vector<std::int16_t> beepSamples = tone(kBeepHz, 0.5);
        beep.AssignPcm16(kRate, 1, static_cast<int>(beepSamples.size()), beepSamples);
        QVERIFY(WriteSound(ToStd(folder_->filePath(QStringLiteral("beep.wav"))), beep));
        std::vector<std::int16_t> track(static_cast<std::size_t>(10 * kRate), 0);
        const auto mixIn = [&track](const std::vector<std::int16_t>& sound, double at) {
            const auto first = static_cast<std::size_t>(at * kRate);
            std::copy(sound.begin(), sound.end(),
                      track.begin() + static_cast<std::ptrdiff_t>(first));
        };
        mixIn(beepSamples, 2.0);
        mixIn(beepSamples, 5.0);
        mixIn(tone(940.0, 0.5), 8.0);
        auto sound = std::make_shared<WaveData>();
        sound->AssignPcm16(kRate, 1, static_cast<int>(track.size()), track);

        auto list = std::make_shared<TriggerList>();
        list->SetBaseDir(folder_->path().toStdString());
        Trigger trigger;
        trigger.SetActive(true);
        trigger.name = "Beep";
        trigger.triggerKind = "sound";
        trigger.triggerFile = "beep.wav";
        trigger.duration = TriggerTime(0, 0, 1);
        list->Add(trigger);
        Page::Setup setup;
        setup.clock = clock_.get();
        setup.trial = [list] { return Page::TrialSetup{list, std::nullopt, {}, true}; };
        page_ = std::make_unique<Page>(std::move(setup));

        QAbstractButton* button = page_->Button(Page::kTryTriggers);
        QVERIFY(button != nullptr);
        QVERIFY(!button->toolTip().isEmpty());
        QCOMPARE(button->accessibleName(), QStringLiteral("try the triggers"));
        QVERIFY(!button->isEnabled());  // nothing to try on yet
        page_->ShowSound(sound, QString());
        QVERIFY(button->isEnabled());
        QSignalSpy finished(page_.get(), &Page::TrialFinished);
        button->click();
        QVERIFY(!button->isEnabled());  // one try at a time
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kGenerousMs);
        QVERIFY(button->isEnabled());

        const std::vector<WaveformView::Mark>& marks = page_->View().Marks();
        QCOMPARE(marks.size(), std::size_t{3});
        const double expected[] = {2.5, 5.5, 8.5};  // decided as each tone ends
        for (std::size_t i = 0; i < marks.size(); ++i) {
            QVERIFY2(std::abs(marks[i].seconds - expected[i]) < 0.15,
                     qPrintable(QString::number(marks[i].seconds)));
            QVERIFY(marks[i].label.startsWith(QStringLiteral("Beep 0.")));
        }
        QVERIFY(marks[0].fired && marks[1].fired);
        QVERIFY(!marks[2].fired);
        auto* result = page_->findChild<QLabel*>(QStringLiteral("trialResult"));
        QVERIFY(result != nullptr);
        QCOMPARE(result->text(), QStringLiteral("2 firings, 1 rejected candidates"));
        QVERIFY(marks[2].label.endsWith(QStringLiteral(" rejected")));
        // The marks are drawn where their times are.
        page_->resize(800, 500);
        page_->show();
        QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
        const std::optional<int> first = page_->View().MarkX(marks[0]);
        const std::optional<int> last = page_->View().MarkX(marks[2]);
        QVERIFY(first && last && *first < *last);
        // A new sound has no marks.
        page_->ShowSound(MonoSound(1.0), QString());
        QVERIFY(page_->View().Marks().empty());
    }

    void buttonStatesThroughRecordStopPlayPause() {
        MakePage(true, MakeMixFormat(MixSampleType::Float32, kRate, 2));
        QVERIFY(sim_->Play(kDevice, FloatBytes(StereoRamp(kRate))));
        AdvanceAudio(1000);

        page_->OnCommand(Page::kRecord);
        ExpectRow({true, true, false, false, false, false, 1, -1, 0}, "recording");
        QVERIFY(!Enabled(Page::kRegister));
        QVERIFY(Enabled(Page::kStopClock));
        QVERIFY(owner_->With([](LoopbackCapture* c) { return c->IsHolding(); }));

        page_->OnCommand(Page::kStop);
        WaitIdle();
        ExpectRow({true, false, true, false, true, true, 0}, "snapshot loaded");
        QVERIFY(Enabled(Page::kRecordAndSave));  // held back only while the snapshot came in
        const std::shared_ptr<const WaveData> sound = page_->Sound();
        QVERIFY(sound != nullptr);
        QCOMPARE(sound->Format().channels, std::uint16_t{2});
        QCOMPARE(FramesOf(*sound), std::int64_t{kRate});
        QCOMPARE(sound->Samples16()[0], Scaled(-0.9f));
        QCOMPARE(sound->Samples16()[1], Scaled(0.9f));
        QVERIFY(page_->SoundPath().isEmpty());

        page_->View().SetSelection(0.0f, 0.5f);
        page_->OnCommand(Page::kPlay);
        ExpectRow({false, true, false, true, false, false, -1, 1, 0}, "playing");
        page_->OnCommand(Page::kPause);
        ExpectRow({true, true, true, false, true, true, -1, 0, 1}, "paused");
        QTRY_VERIFY_WITH_TIMEOUT(!page_->IsPlaying(), kGenerousMs);  // the end was reported
        ExpectRow({true, true, true, false, true, true, -1, 0, 1}, "paused, play ended");

        page_->OnCommand(Page::kPlay);
        ExpectRow({false, true, false, true, false, false, -1, 1, 0}, "playing again");
        page_->OnCommand(Page::kStop);
        ExpectRow({true, false, true, false, true, true, -1, 0, 0}, "stopped");
        QTRY_VERIFY_WITH_TIMEOUT(!page_->IsPlaying(), kGenerousMs);

        // A play of the half second selected runs to its end as the clock moves on.
        page_->OnCommand(Page::kPlay);
        QVERIFY(page_->IsPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                clock_->AdvanceMs(20);
                sim_->Pump();
                return !page_->IsPlaying();
            }(),
            kGenerousMs);
        ExpectRow({true, false, true, false, true, true, -1, 0, 0}, "play ended");
        QCOMPARE(sim_->TakeRenderedBytes(kDevice).empty(), false);
    }

    // After a pause, Play resumes where it was only while the selection and the sound stay:
    // a new selection, or another sound, starts at its selection start.
    void playAfterAPauseStartsAtANewSelection() {
        MakePlayingPage();
        page_->ShowSound(CountingSound(30000, 0, 1), QString());
        page_->View().SetSelection(0.5f, 1.0f);
        const std::int64_t start = page_->View().Selection().first;
        QCOMPARE(FirstSampleOfPlay(), static_cast<std::int16_t>(start));
        PlaySomeAndPause();
        // Without a new selection the play goes on where it was paused.
        QVERIFY(FirstSampleOfPlay() > start);

        PlaySomeAndPause();
        page_->View().SetSelection(0.0f, 0.9f);  // holds the paused frame
        QCOMPARE(FirstSampleOfPlay(), std::int16_t{0});
    }

    void playAfterAPauseStartsAnotherSoundAtItsStart() {
        MakePlayingPage();
        page_->ShowSound(CountingSound(30000, 0, 1), QString());
        page_->View().SetSelection(0.5f, 1.0f);
        PlaySomeAndPause();
        // Another sound, opened from a file: its samples count down from -1.
        const QString other = QString::fromStdString((Folder() / "other.wav").string());
        QVERIFY(WriteSound(ToStd(other), *CountingSound(30000, -1, -1)));
        QVERIFY(page_->LoadWaveFile(other));
        WaitIdle();
        QCOMPARE(page_->SoundPath(), other);
        QCOMPARE(FirstSampleOfPlay(), std::int16_t{-1});
    }

    // Record & save that hears nothing new (here: no capture) writes nothing, leaves Register
    // as it was and says why on its button.
    void recordAndSaveWithNothingNewWritesNothing() {
        settings_ = {2, 2, 2};
        MakePage(false, {});
        page_->ShowSound(MonoSound(3.0), QString());
        QSignalSpy saved(page_.get(), &Page::RecordingSaved);
        page_->OnCommand(Page::kRecordAndSave);
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, kGenerousMs);
        QVERIFY(saved.at(0).at(0).toString().isEmpty());
        QVERIFY(fs::is_empty(Folder()));
        QVERIFY(page_->SoundPath().isEmpty());
        QVERIFY(!Enabled(Page::kRegister));
        QVERIFY(Enabled(Page::kRecordAndSave));
        QAbstractButton* button = page_->Button(Page::kRecordAndSave);
        QVERIFY(button->toolTip().contains(QStringLiteral("nothing new was recorded")));
        QCOMPARE(button->accessibleDescription(), button->toolTip());
        QCOMPARE(button->accessibleName(), QStringLiteral("record & save"));
    }

    // T > P: the recording runs (T - P) seconds and 10 ms before its stop; the file holds
    // the last P seconds of the history.
    void recordAndSaveWaitsTheTriggerLengthLessThePreRecording() {
        settings_ = {1, 2, 2};
        MakePage(true, MakeMixFormat(MixSampleType::Float32, kRate, 2));
        QVERIFY(sim_->Play(kDevice, FloatBytes(StereoRamp(3 * kRate))));
        AdvanceAudio(3000);
        QSignalSpy saved(page_.get(), &Page::RecordingSaved);
        page_->OnCommand(Page::kRecordAndSave);
        QCOMPARE(page_->RecordAndSaveWaitMs(), 1010);
        QVERIFY(page_->IsRecording());
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, kGenerousMs);
        QCOMPARE(page_->RecordAndSaveWaitMs(), 0);
        WaveData file;
        QCOMPARE(ReadWaveFile(file, ToStd(saved.at(0).at(0).toString()), 60.0f), kWaveOk);
        QCOMPARE(file.SampleCount(), static_cast<std::int32_t>(1 * kRate * 2));
        QVERIFY(Enabled(Page::kRegister));
    }

    // A dropped file is refused while recording and loaded after; cancelling the open dialog
    // changes nothing but the clock, which stops there as on every open.
    void droppingAFileAndCancellingTheOpenDialog() {
        MakePage(false, {});
        const QString good = QString::fromStdString((Folder() / "good.wav").string());
        QVERIFY(WriteSound(ToStd(good), *MonoSound(1.0)));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(good)});
        const auto drop = [&] {
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton,
                                  Qt::NoModifier);
            enter.setAccepted(false);
            QApplication::sendEvent(page_.get(), &enter);
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton,
                               Qt::NoModifier);
            QApplication::sendEvent(page_.get(), &dropped);
            WaitIdle();
            return enter.isAccepted();
        };

        page_->OnCommand(Page::kRecord);
        QVERIFY(!drop());
        QVERIFY(page_->Sound() == nullptr);
        clock_->AdvanceMs(3000);
        page_->OnCommand(Page::kStop);
        QVERIFY(!page_->IsClockStopped());

        chosen_.clear();
        page_->OnCommand(Page::kOpen);
        QCOMPARE(chooserCalls_, 1);
        QVERIFY(page_->Sound() == nullptr);
        QVERIFY(messages_.isEmpty());
        QVERIFY(Enabled(Page::kOpen));
        QVERIFY(page_->IsClockStopped());
        QCOMPARE(page_->TakeFrozenClock(), QStringLiteral("00:00:03"));

        QVERIFY(drop());
        QCOMPARE(page_->SoundPath(), good);
        ExpectRow({true, false, true, false, true, true}, "dropped");
    }

    // Float samples beyond full scale saturate instead of wrapping round to the other sign.
    void loudFloatSamplesSaturate() {
        MakePage(true, MakeMixFormat(MixSampleType::Float32, kRate, 1));
        QVERIFY(sim_->Play(kDevice, FloatBytes(std::vector<float>(kRate, 1.5f))));
        AdvanceAudio(1000);
        page_->OnCommand(Page::kRecord);
        page_->OnCommand(Page::kStop);
        WaitIdle();
        QVERIFY(page_->Sound() != nullptr);
        QCOMPARE(page_->Sound()->Samples16()[100], std::int16_t{32767});
    }

    // More than two channels make no editor sound: the previous one stays.
    void sixChannelRecordingKeepsThePreviousSound() {
        MakePage(true, MakeMixFormat(MixSampleType::Float32, kRate, 6));
        page_->ShowSound(MonoSound(1.0), QString());
        const auto before = page_->Sound();
        QVERIFY(sim_->Play(kDevice, FloatBytes(std::vector<float>(6 * kRate, 0.25f))));
        AdvanceAudio(1000);
        page_->OnCommand(Page::kRecord);
        page_->OnCommand(Page::kStop);
        WaitIdle();
        QCOMPARE(page_->Sound(), before);
        ExpectRow({true, false, true, false, true, true, 0}, "six channels");
    }

    // Without capture the record command still runs its clock; stop loads nothing.
    void recordWithoutCaptureKeepsTheSoundAndRunsTheClock() {
        MakePage(false, {});
        page_->ShowSound(MonoSound(1.0), QString());
        const auto before = page_->Sound();
        page_->OnCommand(Page::kRecord);
        clock_->AdvanceMs((101 * 3600 + 2 * 60 + 3) * 1000);
        QTRY_COMPARE(page_->Button(Page::kStopClock)->text(), QStringLiteral("01:02:03"));
        page_->OnCommand(Page::kStop);
        ExpectRow({true, false, true, false, true, true, 0}, "stopped without capture");
        QCOMPARE(page_->Sound(), before);

        QVERIFY(page_->TakeFrozenClock().isEmpty());
        page_->OnCommand(Page::kStopClock);
        QVERIFY(!Enabled(Page::kStopClock));
        QCOMPARE(page_->TakeFrozenClock(), QStringLiteral("01:02:03"));
        QVERIFY(page_->TakeFrozenClock().isEmpty());
    }

    // The view's frames come from the fractions as (frames - 1) x fraction; the saved file
    // holds samples x fraction / channels frames on either side, whatever the mouse's order.
    void selectionFramesFromFractionsAndSave() {
        MakePage(false, {});
        const std::shared_ptr<WaveData> sound = MonoSound(2.0);
        page_->ShowSound(sound, QString());
        page_->View().SetSelection(0.75f, 0.25f);
        QCOMPARE(page_->View().Selection(), SelectionFrames(0.75f, 0.25f, 2 * kRate));
        QCOMPARE(page_->View().Selection().first, std::int64_t{23999});
        QCOMPARE(SelectionSamples(2 * kRate, 1, 0.75f, 0.25f), (SampleRange{24000, 72000}));
        QVERIFY(Enabled(Page::kSave));

        chosen_ = QString::fromStdString((Folder() / "part").string());
        QSignalSpy changed(page_.get(), &Page::SoundChanged);
        page_->OnCommand(Page::kSave);
        QTRY_COMPARE(changed.count(), 1);
        WaveData saved;
        QCOMPARE(ReadWaveFile(saved, Folder() / "part.wav", 60.0f), kWaveOk);
        QCOMPARE(saved.SampleCount(), 48000);
        QVERIFY(std::equal(saved.Samples16().begin(), saved.Samples16().end(),
                           sound->Samples16().begin() + 24000));
        QCOMPARE(page_->SoundPath(), chosen_ + ".wav");

        // 0.4 s is refused before any dialog, and nothing is written.
        page_->View().SetSelection(0.1f, 0.3f);
        page_->OnCommand(Page::kSave);
        QCOMPARE(messages_,
                 QStringList{QStringLiteral("Trigger length should be longer than 0.5 seconds.")});
        QCOMPARE(chooserCalls_, 1);
    }

    void refusedFilesShowTheirMessageAndChangeNothing() {
        MakePage(false, {});
        const std::shared_ptr<WaveData> good = MonoSound(1.0);
        QVERIFY(WriteSound(Folder() / "good.wav", *good));
        WaveFormat deep = good->Format();
        deep.bitsPerSample = 24;
        deep.blockAlign = 3;
        deep.byteRate = kRate * 3;
        const std::vector<std::byte> deepBytes(kRate * 3);
        QVERIFY(WriteWaveFile(Folder() / "deep.wav", deepBytes, deep));
        QVERIFY(WriteSound(Folder() / "short.wav", *MonoSound(0.3)));

        const QString goodPath = QString::fromStdString((Folder() / "good.wav").string());
        QVERIFY(page_->LoadWaveFile(goodPath));
        WaitIdle();
        QCOMPARE(page_->SoundPath(), goodPath);
        const auto loaded = page_->Sound();
        QCOMPARE(loaded->SampleCount(), good->SampleCount());

        const struct {
            const char* file;
            const char* message;
        } cases[] = {{"missing.wav", "error: file not found"},
                     {"deep.wav", "error: audio format not acceptable"},
                     {"short.wav", "error: sound too short"}};
        for (const auto& c : cases) {
            messages_.clear();
            QVERIFY(page_->LoadWaveFile(QString::fromStdString((Folder() / c.file).string())));
            WaitIdle();
            QCOMPARE(messages_, QStringList{QString::fromLatin1(c.message)});
            QCOMPARE(page_->Sound(), loaded);
            QCOMPARE(page_->SoundPath(), goodPath);
            ExpectRow({true, false, true, false, true, true}, c.file);
        }

        // While recording a file is not taken.
        page_->OnCommand(Page::kRecord);
        QVERIFY(!page_->LoadWaveFile(goodPath));
    }

    // P = T = 2: the timer fires at once and the file holds the last two seconds of the
    // recording, named after the clock's date and time; a second one in the same second gets
    // its own name; register hands the file on.
    void recordAndSaveWritesTheLastSecondsNamedByTime() {
        settings_ = {2, 2, 2};
        MakePage(true, MakeMixFormat(MixSampleType::Float32, kRate, 2));
        QVERIFY(sim_->Play(kDevice, FloatBytes(StereoRamp(3 * kRate))));
        AdvanceAudio(3000);

        QSignalSpy saved(page_.get(), &Page::RecordingSaved);
        page_->OnCommand(Page::kRecordAndSave);
        QVERIFY(!Enabled(Page::kRecordAndSave));
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, kGenerousMs);
        // The clock started at 14:03:09 and moved on by the three seconds played.
        const fs::path path = Folder() / "261205_140312.wav";
        QCOMPARE(saved.at(0).at(0).toString(), QString::fromStdString(path.string()));
        QVERIFY(Enabled(Page::kRecordAndSave));
        QVERIFY(Enabled(Page::kRegister));

        WaveData file;
        QCOMPARE(ReadWaveFile(file, path, 60.0f), kWaveOk);
        QCOMPARE(file.Format().channels, std::uint16_t{2});
        QCOMPARE(file.SampleCount(), static_cast<std::int32_t>(2 * kRate * 2));
        // It starts one second into the ramp and ends at the ramp's end.
        const std::vector<float> ramp = StereoRamp(3 * kRate);
        QCOMPARE(file.Samples16()[0], Scaled(ramp[2 * kRate]));
        QCOMPARE(file.Samples16()[file.SampleCount() - 2], Scaled(ramp[ramp.size() - 2]));
        QCOMPARE(page_->View().SelectionA(), 1.0f / 3.0f);

        QSignalSpy registered(page_.get(), &Page::RegisterRequested);
        page_->OnCommand(Page::kRegister);
        QCOMPARE(registered.count(), 1);
        QCOMPARE(registered.at(0).at(0).toString(), QString::fromStdString(path.string()));
        QCOMPARE(registered.at(0).at(1).toDouble(), 3.0);
        QVERIFY(!Enabled(Page::kRegister));
        QVERIFY(Enabled(Page::kRecordAndSave));

        page_->OnCommand(Page::kRecordAndSave);
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 2, kGenerousMs);
        QCOMPARE(saved.at(1).at(0).toString(),
                 QString::fromStdString((Folder() / "261205_140312_2.wav").string()));
        QVERIFY(fs::exists(path));
    }

    // A recording shorter than the pre-recording: the window starts at the recording's start,
    // so the file holds the whole second and the selection covers it all.
    void recordAndSaveOfAShortRecordingSavesAllOfIt() {
        settings_ = {2, 2, 2};
        MakePage(true, MakeMixFormat(MixSampleType::Float32, kRate, 2));
        QVERIFY(sim_->Play(kDevice, FloatBytes(StereoRamp(kRate))));
        AdvanceAudio(1000);

        QSignalSpy saved(page_.get(), &Page::RecordingSaved);
        page_->OnCommand(Page::kRecordAndSave);
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, kGenerousMs);
        const QString path = saved.at(0).at(0).toString();
        QVERIFY(!path.isEmpty());
        WaveData file;
        QCOMPARE(ReadWaveFile(file, ToStd(path), 60.0f), kWaveOk);
        QCOMPARE(file.SampleCount(), static_cast<std::int32_t>(kRate * 2));
        const std::vector<float> ramp = StereoRamp(kRate);
        QCOMPARE(file.Samples16()[0], Scaled(ramp[0]));
        QCOMPARE(file.Samples16()[file.SampleCount() - 2], Scaled(ramp[ramp.size() - 2]));
        QCOMPARE(page_->View().SelectionA(), 0.0f);
        QCOMPARE(page_->View().SelectionB(), 1.0f);
    }

    // In the settings window, register brings up the controls page, which adds the sound.
    void registerAddsTheSoundOnTheControlsPage() {
        FakeHotkeyGrabber grabber;
        ConfigurationOwner configuration(
            {&grabber, nullptr, ConfigFile::PathIn(folder_->path().toStdString()), {}});
        SettingsWindow::Setup setup;
        setup.paths = ProgramPaths::ForDataFolder(folder_->path().toStdString());
        SettingsWindow window(configuration, std::move(setup));
        CaptureEditor& capture = window.CapturePage();
        const QString path = QString::fromStdString((Folder() / "doorbell.wav").string());
        QVERIFY(WriteSound(ToStd(path), *MonoSound(1.0)));
        QVERIFY(capture.LoadWaveFile(path));
        QTRY_VERIFY(!capture.IsBusy());

        emit capture.RegisterRequested(path, 1.0);
        QCOMPARE(window.CurrentPage(), int{SettingsWindow::kControlsPage});
        const TriggerList& list = window.ControlsPage().WorkingList();
        QCOMPARE(list.CountSound(), 1);
        QVERIFY(QString::fromStdString(list.Get(TriggerKind::Sound, 0)->triggerFile)
                    .endsWith(QStringLiteral("doorbell.wav")));
    }

    // Register in the settings window: the stopped clock's time becomes the new trigger's
    // duration and the configured default its action. Once that time was taken by a visit to
    // the controls page, the configured default duration stands in; a sound saved under a
    // name that is not a WAV file's is not registered.
    void registerThroughTheSettingsWindow() {
        Settings configured;
        configured.preRecordingLengthInSec = 2;
        configured.triggerSoundLengthInSec = 2;
        configured.defaultAction = 12;  // "down 9"
        configured.defaultDuration = TriggerTime(0, 0, 30);
        const std::string configPath = ConfigFile::PathIn(folder_->path().toStdString());
        QVERIFY(ConfigFile::Save(configured, configPath));
        QVERIFY(fs::create_directory(Folder() / "triggers"));
        QVERIFY(sim_->AddDevice(kDevice, MakeMixFormat(MixSampleType::Float32, kRate, 2)));
        owner_ = std::make_unique<test::CaptureOwner>(*sim_);
        QVERIFY(owner_->WaitStarted());
        QVERIFY(sim_->Play(kDevice, FloatBytes(StereoRamp(20 * kRate))));
        AdvanceAudio(3000);

        FakeHotkeyGrabber grabber;
        ConfigurationOwner configuration({&grabber, nullptr, configPath, {}});
        SettingsWindow::Setup setup;
        setup.paths = ProgramPaths::ForDataFolder(folder_->path().toStdString());
        setup.clock = clock_.get();
        SettingsWindow window(configuration, std::move(setup));
        CaptureEditor& capture = window.CapturePage();
        capture.SetCaptureAccess([this](const std::function<void(LoopbackCapture*)>& use) {
            owner_->With([&](LoopbackCapture* c) {
                use(c);
                return 0;
            });
        });
        capture.SetMessageSink([](const QString&, CaptureEditor::MessageIcon) {});
        const TriggerList& list = window.ControlsPage().WorkingList();
        const auto recordAndSave = [&] {
            QSignalSpy saved(&capture, &Page::RecordingSaved);
            capture.OnCommand(Page::kRecordAndSave);
            QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, kGenerousMs);
            QVERIFY(!saved.at(0).at(0).toString().isEmpty());
        };
        const auto lastDuration = [&] {
            return list.Get(TriggerKind::Sound, list.CountSound() - 1)->duration.Seconds();
        };

        window.ShowPage(SettingsWindow::kCapturePage);
        recordAndSave();
        clock_->AdvanceMs(7000);
        capture.OnCommand(Page::kRegister);
        QCOMPARE(window.CurrentPage(), int{SettingsWindow::kControlsPage});
        QCOMPARE(list.CountSound(), 1);
        QCOMPARE(lastDuration(), std::int64_t{7});
        QCOMPARE(window.ControlsPage().Model().RowAt(0).action, QStringLiteral("down 9"));
        QVERIFY(!capture.Button(Page::kRegister)->isEnabled());

        // The clock stopped by hand, its time taken by a visit to the controls page.
        window.ShowPage(SettingsWindow::kCapturePage);
        clock_->AdvanceMs(1000);
        recordAndSave();
        clock_->AdvanceMs(4000);
        capture.OnCommand(Page::kStopClock);
        window.ShowPage(SettingsWindow::kControlsPage);
        window.ShowPage(SettingsWindow::kCapturePage);
        capture.OnCommand(Page::kRegister);
        QCOMPARE(list.CountSound(), 2);
        QCOMPARE(lastDuration(), std::int64_t{30});

        // Saved under another name: register only gives record & save back.
        window.ShowPage(SettingsWindow::kCapturePage);
        clock_->AdvanceMs(1000);
        recordAndSave();
        const QString raw = QString::fromStdString((Folder() / "clip.raw").string());
        capture.SetFileChooser([&raw](Page::FileDialog, const QString&) { return raw; });
        QSignalSpy changed(&capture, &Page::SoundChanged);
        capture.OnCommand(Page::kSave);
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, kGenerousMs);
        QCOMPARE(capture.SoundPath(), raw);
        QVERIFY(capture.Button(Page::kRegister)->isEnabled());
        capture.OnCommand(Page::kRegister);
        QCOMPARE(list.CountSound(), 2);
        QCOMPARE(window.CurrentPage(), int{SettingsWindow::kCapturePage});
        QVERIFY(capture.Button(Page::kRecordAndSave)->isEnabled());
        QVERIFY(!capture.Button(Page::kRegister)->isEnabled());
        capture.SetCaptureAccess({});
    }

    // A hold that outgrows the snapshot buffer ends in a snapshot of the oldest 60 seconds;
    // a stop made before the page noticed takes that one instead of asking for a new copy
    // of what the trimmed history still holds.
    void stopAfterAForcedSnapshotKeepsTheSixtySeconds() {
        constexpr std::uint32_t kSlowRate = 16000;
        MakePage(true, MakeMixFormat(MixSampleType::Pcm16, kSlowRate, 1));
        const auto advance = [&](std::uint64_t ms) {
            for (std::uint64_t done = 0; done < ms; done += 500) {
                const std::uint64_t before = Captured();
                clock_->AdvanceMs(500);
                QVERIFY(Eventually([&] { return Captured() >= before + kSlowRate / 2; }));
            }
        };
        advance(40000);
        page_->OnCommand(Page::kRecord);
        advance(21000);  // the Qt event loop does not run: the page cannot poll meanwhile
        QVERIFY(owner_->With([](LoopbackCapture* c) { return c->IsSnapshotReady(); }));
        page_->OnCommand(Page::kStop);
        WaitIdle();
        QVERIFY(page_->Sound() != nullptr);
        QCOMPARE(FramesOf(*page_->Sound()), std::int64_t{60} * kSlowRate);
    }
};

}  // namespace hushwell

QTEST_MAIN(hushwell::CaptureEditorTest)
#include "CaptureEditorTest.moc"
