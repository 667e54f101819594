// The whole program on the private PipeWire server of scripts/pw-sandbox, driven from its
// window: the program's own objects (Application: PulseAudio backend, volume manager, tray
// window with the detection engine, settings window) start with an empty data folder in the
// sandbox. A jingle played on the output is recorded on the Capture page, saved and
// registered, made a 3-second mute on the Controls page, and when it plays again the output
// is muted and the Logs page shows the firing. The record-and-save hotkey writes the last
// seconds of a tone into the triggers folder under a time-stamped name.
#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTime>
#include <QTimeEdit>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "app/TrayWindow.h"
#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/pulse/PulseBackend.h"
#include "base/FormatTimeStamp.h"
#include "detection/ScoreBoard.h"
#include "tests/support/SandboxTools.h"
#include "ui/CaptureEditor.h"
#include "ui/CaptureSelection.h"
#include "ui/HotkeyList.h"
#include "ui/LogPage.h"
#include "ui/OptionsPage.h"
#include "ui/SettingsWindow.h"
#include "ui/TriggerEditor.h"
#include "ui/TriggerListModel.h"
#include "ui/WaveformView.h"
#include "wav/WaveFile.h"

namespace hushwell {

namespace {

constexpr int kSkipCode = 77;
constexpr int kGenerousMs = 60000;
constexpr double kToneFrequency = 1000.0;
constexpr double kToneAmplitude = 0.5;
constexpr double kToneSeconds = 0.5;
// A sample louder than this (of full scale) belongs to the jingle.
constexpr float kJingleThreshold = 0.05f;
// Room kept before and after the jingle's loud part in the registered selection: a little,
// since the jingle plays back to back below and a reference that ends in silence would not
// meet that silence again.
constexpr double kLeadSeconds = 0.05;
constexpr double kTailSeconds = 0.05;
// The recording goes on this long past the jingle's end before it is stopped.
constexpr int kAfterJingleSeconds = 1;
constexpr const char* kJingleName = "jingle";

// The program under test, made by main before the test functions run.
Application* program = nullptr;

template <class Widget>
Widget* Named(QWidget& parent, const QString& accessibleName) {
    for (Widget* widget : parent.findChildren<Widget*>()) {
        if (widget->accessibleName() == accessibleName) {
            return widget;
        }
    }
    return nullptr;
}

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

// The elapsed recording time the capture page's clock shows, in seconds.
int ClockSeconds(QAbstractButton& clock) {
    const QTime shown = QTime::fromString(clock.text(), QStringLiteral("hh:mm:ss"));
    return shown.isValid() ? shown.msecsSinceStartOfDay() / 1000 : -1;
}

// The output's device period as the program's backend reports it, in seconds.
double DevicePeriodSeconds() {
    PulseBackendOptions options;
    options.warn = [](const std::string&) {};
    PulseBackend backend(options);
    std::shared_ptr<AudioEndpoint> endpoint;
    std::unique_ptr<AudioClient> client;
    std::int64_t period100ns = 0;
    if (backend.GetDefaultAudioEndpoint(endpoint) != AudioResult::Ok ||
        endpoint->ActivateAudioClient(client) != AudioResult::Ok ||
        client->GetDevicePeriod(period100ns) != AudioResult::Ok) {
        return 0.0;
    }
    return static_cast<double>(period100ns) / 1e7;
}

// Plays a file on the sink with paplay, the event loop running meanwhile.
bool Play(const std::string& sink, const std::filesystem::path& file) {
    std::atomic<bool> played{false};
    int status = -1;
    std::thread player([&] {
        e2e::Run("paplay -d " + sink + " " + file.string(), &status);
        played = true;
    });
    const bool ended = QTest::qWaitFor([&] { return played.load(); }, kGenerousMs);
    player.join();
    return ended && status == 0;
}

// Plays a file on the sink again and again, on its own thread, until destroyed.
class RepeatedPlayer {
public:
    RepeatedPlayer(std::string sink, std::filesystem::path file)
        : thread_([this, sink = std::move(sink), file = std::move(file)] {
              while (!stop_) {
                  e2e::Run("paplay -d " + sink + " " + file.string());
                  ++plays_;
              }
          }) {}
    ~RepeatedPlayer() {
        stop_ = true;
        thread_.join();
    }
    RepeatedPlayer(const RepeatedPlayer&) = delete;
    RepeatedPlayer& operator=(const RepeatedPlayer&) = delete;
    int Plays() const { return plays_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> plays_{0};
    std::thread thread_;
};

// Prints how long the run has taken when a step is reached.
void Reached(const char* step) {
    static QElapsedTimer sinceStart;
    if (!sinceStart.isValid()) {
        sinceStart.start();
    }
    std::printf("%7.1f s  %s\n", static_cast<double>(sinceStart.elapsed()) / 1000.0, step);
    std::fflush(stdout);
}

bool LogShows(LogPage& page, const QString& name) {
    auto* list = Named<QTableView>(page, QStringLiteral("Fired triggers"));
    if (list == nullptr) {
        return false;
    }
    const QAbstractItemModel& model = *list->model();
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.index(row, 1).data().toString() == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

class WholeProgramE2ETest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        sink_ = e2e::SandboxSink();
        QVERIFY(!sink_.empty());
        scratch_ = std::getenv("HUSHWELL_SANDBOX_DIR");
        chime_ = scratch_ / "chime.wav";
        QVERIFY(std::system((std::string(HUSHWELL_MAKE_CHIME) + " " + chime_.string()).c_str()) ==
                0);
        triggers_ = program->Paths().soundFolder;
        QVERIFY(std::filesystem::is_directory(triggers_));
        SettingsWindow& window = program->Tray().SettingsDialog();
        QCOMPARE(window.ControlsPage().WorkingList().Count(TriggerKind::Sound), 0);
        window.CapturePage().SetMessageSink(
            [](const QString& text, CaptureEditor::MessageIcon) { QFAIL(qPrintable(text)); });
        TriggerEditor::Dialogs dialogs;
        dialogs.error = [](const QString& text) { QFAIL(qPrintable(text)); };
        window.ControlsPage().SetDialogs(std::move(dialogs));
    }

    // Record a jingle from the history, save and register it, make it a mute: it fires.
    void recordedJingleRegisteredAsMuteMutesWhenPlayedAgain() {
        SettingsWindow& window = program->Tray().SettingsDialog();
        CaptureEditor& capture = window.CapturePage();
        window.ShowPage(SettingsWindow::kCapturePage);
        QVERIFY(!e2e::PactlMuted(sink_));
        Reached("the program runs");

        // 1-2: the jingle plays while recording; stop loads the history's snapshot.
        auto* record = Named<QAbstractButton>(capture, QStringLiteral("record"));
        auto* stop = Named<QAbstractButton>(capture, QStringLiteral("stop"));
        auto* clock = Named<QAbstractButton>(capture, QStringLiteral("stop timer"));
        QVERIFY(record != nullptr && stop != nullptr && clock != nullptr);
        QTest::mouseClick(record, Qt::LeftButton);
        QVERIFY(capture.IsRecording());
        QVERIFY(Play(sink_, chime_));
        // The jingle's end reaches the capture history well within the second that follows.
        const int jingleEnded = ClockSeconds(*clock);
        QTRY_VERIFY_WITH_TIMEOUT(ClockSeconds(*clock) > jingleEnded + kAfterJingleSeconds,
                                 kGenerousMs);
        QTest::mouseClick(stop, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!capture.IsBusy() && !capture.IsRecording(), kGenerousMs);
        const auto sound = capture.Sound();
        QVERIFY(sound != nullptr);
        Reached("the recording is loaded");

        // 3: the part holding the jingle is selected, saved and registered.
        const std::vector<float> mono = FirstChannel(*sound);
        const auto loud = [](float s) { return std::abs(s) > kJingleThreshold; };
        const auto first = std::find_if(mono.begin(), mono.end(), loud);
        QVERIFY2(first != mono.end(), "the jingle is not in the recording");
        const auto last = std::find_if(mono.rbegin(), mono.rend(), loud).base();
        const double rate = sound->Format().sampleRate;
        const double frames = static_cast<double>(mono.size());
        const double from =
            std::max(0.0, static_cast<double>(first - mono.begin()) - kLeadSeconds * rate);
        const double to =
            std::min(frames, static_cast<double>(last - mono.begin()) + kTailSeconds * rate);
        QVERIFY((to - from) / rate >= kMinSelectionSeconds);
        capture.View().SetSelection(static_cast<float>(from / frames),
                                    static_cast<float>(to / frames));
        const std::filesystem::path saved = triggers_ / (std::string(kJingleName) + ".wav");
        capture.SetFileChooser([&saved](CaptureEditor::FileDialog kind, const QString&) {
            return kind == CaptureEditor::FileDialog::Save
                       ? QString::fromStdU16String(saved.u16string())
                       : QString();
        });
        QTest::mouseClick(Named<QAbstractButton>(capture, QStringLiteral("save the selection")),
                          Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(capture.SoundPath(), QString::fromStdU16String(saved.u16string()),
                                  kGenerousMs);
        QVERIFY(std::filesystem::exists(saved));
        Reached("the selection is saved");
        // The capture page's register button belongs to record-and-save; a selection saved
        // by hand is registered as that button would, on the Controls page.
        QVERIFY(!capture.Button(CaptureEditor::kRegister)->isEnabled());
        window.ShowPage(SettingsWindow::kControlsPage);
        TriggerEditor& controls = window.ControlsPage();
        const int defaultAction = window.Options().Applied().settings.defaultAction;
        QVERIFY(controls.AddSoundTrigger(capture.SoundPath(), defaultAction));

        // 4: the registered row becomes a 3-second mute.
        QCOMPARE(controls.WorkingList().Count(TriggerKind::Sound), 1);
        QCOMPARE(controls.SelectedRows(), std::vector<int>{0});
        auto* action = Named<QComboBox>(controls, QStringLiteral("Action"));
        auto* duration = Named<QTimeEdit>(controls, QStringLiteral("Duration"));
        QVERIFY(action != nullptr && duration != nullptr);
        action->setCurrentText(QStringLiteral("mute"));
        duration->setTime(QTime(0, 0, 3));
        QVERIFY(controls.ApplyButton().isEnabled());
        QTest::mouseClick(&controls.ApplyButton(), Qt::LeftButton);
        const Trigger* registered = controls.WorkingList().Get(TriggerKind::Sound, 0);
        QVERIFY(registered != nullptr);
        QCOMPARE(registered->name, std::string(kJingleName));
        QCOMPARE(registered->control, std::string("mute"));
        TriggerTime muteDuration = registered->duration;
        QCOMPARE(muteDuration.Format(), std::string("00:00:03"));
        QVERIFY(std::filesystem::exists(controls.ListPath()));
        Reached("the mute is applied");

        // The try button on the recording marks where the new trigger fires.
        window.ShowPage(SettingsWindow::kCapturePage);
        QSignalSpy tried(&capture, &CaptureEditor::TrialFinished);
        QTest::mouseClick(capture.Button(CaptureEditor::kTryTriggers), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(tried.count(), 1, kGenerousMs);
        const std::vector<WaveformView::Mark>& marks = capture.View().Marks();
        QVERIFY(std::any_of(marks.begin(), marks.end(), [](const WaveformView::Mark& mark) {
            return mark.fired && mark.label.startsWith(QString::fromLatin1(kJingleName));
        }));
        Reached("the try marks the jingle");
        window.ShowPage(SettingsWindow::kControlsPage);

        // 5: the jingle plays again and the output is muted, then unmuted after 3 seconds.
        QElapsedTimer sincePlay;
        sincePlay.start();
        int plays = 0;
        {
            RepeatedPlayer player(sink_, chime_);
            // The jingle's bar on the Controls page moves: it fired.
            const QModelIndex meter =
                controls.Model().IndexOfPosition(0, TriggerListModel::kMeterColumn);
            QTRY_VERIFY_WITH_TIMEOUT(
                controls.Model().data(meter, TriggerListModel::kStageRole).toInt() >=
                    static_cast<int>(ScoreBoard::Stage::Verified),
                kGenerousMs);
            QTRY_VERIFY_WITH_TIMEOUT(e2e::PactlMuted(sink_), kGenerousMs);
            plays = player.Plays();
        }
        std::printf("from the second play to the mute: %lld ms (%d plays ended before)\n",
                    static_cast<long long>(sincePlay.elapsed()), plays);
        QTRY_VERIFY_WITH_TIMEOUT(!e2e::PactlMuted(sink_), kGenerousMs);
        Reached("the mute is undone");

        // 6: the Logs page shows the firing.
        QTRY_VERIFY_WITH_TIMEOUT(LogShows(window.Logs(), QString::fromLatin1(kJingleName)),
                                 kGenerousMs);
    }

    // The record-and-save hotkey writes the last seconds of the output, holding a tone that
    // was played, into the triggers folder under the date and time.
    void recordSaveHotkeyWritesTheLastSecondsWithTheTone() {
        TrayWindow& tray = program->Tray();
        CaptureEditor& capture = tray.SettingsDialog().CapturePage();
        const Settings& settings = tray.SettingsDialog().Options().Applied().settings;
        const int keptSeconds =
            std::min(settings.preRecordingLengthInSec, settings.triggerSoundLengthInSec);
        const int formatType = settings.filenameFormatType;
        QVERIFY(keptSeconds >= 1);

        e2e::TempFolder folder;
        const auto tone = folder.Path() / "tone.wav";
        e2e::WriteToneWav(tone, 48000, 2, kToneFrequency, kToneAmplitude, kToneSeconds);
        QSignalSpy saves(&capture, &CaptureEditor::RecordingSaved);
        const LocalTime pressed = SystemClock::Instance().Now();
        QElapsedTimer sincePress;
        sincePress.start();
        tray.OnHotkey(HotkeyList::kRecordSaveId);
        QTRY_VERIFY_WITH_TIMEOUT(capture.IsRecording(), kGenerousMs);
        Reached("the hotkey's recording runs");
        QVERIFY(Play(sink_, tone));
        QTRY_COMPARE_WITH_TIMEOUT(saves.count(), 1, kGenerousMs);
        const std::filesystem::path path = saves.front().front().toString().toStdU16String();
        QVERIFY(!path.empty());

        // Named after a second between the press and the save, in the triggers folder.
        QCOMPARE(path.parent_path(), triggers_);
        QStringList stamps;
        for (qint64 s = 0; s <= sincePress.elapsed() / 1000 + 1; ++s) {
            stamps << QString::fromStdString(
                          FormatTimeStamp(formatType, false, AddSeconds(pressed, s))) +
                          QStringLiteral(".wav");
        }
        QVERIFY2(stamps.contains(QString::fromStdU16String(path.filename().u16string())),
                 qPrintable(QString::fromStdU16String(path.filename().u16string())));

        // The last seconds: their length within a device period, and the tone among them.
        WaveData wave;
        QCOMPARE(ReadWaveFile(wave, path, 60.0f), 0);
        const std::uint32_t rate = wave.Format().sampleRate;
        const double seconds = static_cast<double>(FramesOf(wave)) / rate;
        const double period = DevicePeriodSeconds();
        QVERIFY(period > 0.0);
        QVERIFY2(std::abs(seconds - keptSeconds) <= period,
                 qPrintable(QStringLiteral("%1 s").arg(seconds)));
        const std::vector<float> mono = FirstChannel(wave);
        const std::vector<float> window =
            e2e::LoudestWindow(mono, static_cast<std::size_t>(rate * kToneSeconds / 2));
        QVERIFY(std::abs(e2e::ToneAmplitude(window, rate, kToneFrequency) - kToneAmplitude) < 0.05);
    }

private:
    std::string sink_;
    std::filesystem::path scratch_;
    std::filesystem::path chime_;
    std::filesystem::path triggers_;
};

}  // namespace hushwell

// The program is made before the tests run, with its data and configuration in the sandbox,
// and shut down in order after them.
int main(int argc, char** argv) {
    const char* scratch = std::getenv("HUSHWELL_SANDBOX_DIR");
    if (hushwell::e2e::SandboxSink().empty() || scratch == nullptr) {
        std::fprintf(stderr, "needs the private sound server: run through scripts/pw-sandbox\n");
        return hushwell::kSkipCode;
    }
    const std::filesystem::path sandbox(scratch);
    ::setenv("XDG_DATA_HOME", (sandbox / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (sandbox / "config").c_str(), 1);
    hushwell::Reached("starting the program");
    hushwell::Application app(argc, argv);
    if (!app.InitInstance()) {
        std::fprintf(stderr, "the program did not start\n");
        return EXIT_FAILURE;
    }
    hushwell::program = &app;
    hushwell::WholeProgramE2ETest test;
    const int status = QTest::qExec(&test, argc, argv);
    app.Tray().Shutdown();
    if (status != 0) {
        // What the program said and the list it saved, to see where the path broke.
        for (const char* name : {"Hushwell-log.txt", "triggers.xml"}) {
            std::printf("--- %s\n", name);
            std::fflush(stdout);
            std::system(
                ("cat '" + (std::filesystem::path(app.Paths().dataFolder) / name).string() + "'")
                    .c_str());
        }
    }
    return status;
}

#include "WholeProgramE2ETest.moc"
