#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "ui/PlaybackControl.h"
#include "ui/RecordingSession.h"
#include "ui/UiWorker.h"
#include "wav/WaveData.h"

class QAbstractButton;
class QDragEnterEvent;
class QDropEvent;
class QHBoxLayout;
class QLabel;
class QToolButton;
class QPushButton;

namespace hushwell {

class AudioBackend;
class TriggerList;
class LoopbackCapture;
class DetectionEngine;
class WaveformView;
namespace scan {
struct TrialMark;
}  // namespace scan

// The sound editor, the "Capture" page of the settings window. It holds one current sound and
// shows it in a WaveformView; it records the sound from the loopback capture's 40-second
// history (hold, then a snapshot at stop), plays the sound or its selection, opens and saves
// WAV files (also dropped ones), records and saves the last seconds as a time-stamped file, and
// hands a saved sound to the trigger list editor (RegisterRequested).
//
// The page holds the widgets and their states; the recording (hold, snapshot, record-and-save)
// is a RecordingSession and the playing a PlaybackControl, neither of them a widget. Nothing
// here waits on the user-interface thread: files are read and written and snapshots
// converted by a UiWorker; the snapshot is awaited by polling (the snapshot poll timer); the player
// runs on its own thread and reports the end of a play back to this thread.
//
// --- User-interface thread: everything.
// The capture object is only used inside the owner's capture lock (CaptureAccess), for the
// hold and snapshot flags and to copy the snapshot out.
class CaptureEditor final : public QWidget {
    Q_OBJECT
public:
    // Command ids (button ids); the tray window posts kRecord, kRecordAndSave and kRegister.
    enum Command {
        kPlay = 21000,
        kStop = 21001,
        kPause = 21002,
        kRecord = 21003,
        kSave = 21005,
        kOpen = 21006,
        kZoom = 21007,
        kZoomOut = 21008,
        kStopClock = 21009,
        kRecordAndSave = 21010,
        kRegister = 21011,
        kTryTriggers = 21012,
    };

    // Timer periods.
    static constexpr int kPlayProgressMs = 50;
    static constexpr int kSnapshotPollMs = RecordingSession::kRecordingPollMs;
    static constexpr int kClockMs = 500;
    // While the page shows, its window is never smaller than this.
    static constexpr int kMinimumWidth = 480;
    static constexpr int kMinimumHeight = 465;
    // How long the pointer rests on a button before its tool tip comes up.
    static constexpr int kTransportTipDelayMs = 1000;
    static constexpr int kOtherTipDelayMs = 200;

    // Runs the function with the capture object under the owner's capture lock (nullptr when
    // capture is not running).
    using CaptureAccess = RecordingSession::CaptureAccess;
    static CaptureAccess AccessOf(DetectionEngine& engine);

    // The options page's values, read at the moment of each command.
    using RecordingSettings = RecordingSession::Settings;

    // What the try button runs: a copy of the trigger list, the one trigger selected on the
    // Controls page (none: every sound trigger), where sound names are found, and whether
    // matches are verified.
    struct TrialSetup {
        std::shared_ptr<const TriggerList> triggers;
        std::optional<std::uint32_t> onlySerial;
        std::string triggersFolder;
        bool verification = true;
    };

    struct Setup {
        CaptureAccess capture;                        // empty: no capture
        AudioBackend* backend = nullptr;              // for playing; null: play does nothing
        std::function<RecordingSettings()> settings;  // empty: the initial values
        // The folder of the current trigger list: dialogs start there, recordings go there.
        std::function<std::filesystem::path()> triggerFolder;
        const Clock* clock = nullptr;  // ticks and local time; null: the system clock
        // The triggers the try button runs over the sound; empty: the button does nothing.
        std::function<TrialSetup()> trial;
    };

    // The page's messages, modal message boxes unless a test replaces them.
    enum class MessageIcon { Error, None };
    using MessageSink = std::function<void(const QString& text, MessageIcon icon)>;
    // The file dialogs: returns the chosen path, empty on cancel.
    enum class FileDialog { Open, Save };
    using FileChooser = std::function<QString(FileDialog kind, const QString& folder)>;

    explicit CaptureEditor(Setup setup, QWidget* parent = nullptr);
    ~CaptureEditor() override;

    // Capture and playing may be attached after creation (the engine starts after the window).
    void SetCaptureAccess(CaptureAccess capture);
    void SetBackend(AudioBackend* backend);
    void SetMessageSink(MessageSink sink) { showMessage_ = std::move(sink); }
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    // Carries out a command as its button would (disabled commands do nothing).
    void OnCommand(int id);
    void StartRecording();
    void StopRecording();
    void RecordAndSave();
    // Loads a WAV file as the current sound (open and drop without the dialog); the result
    // arrives later. False when the page cannot take a file now.
    bool LoadWaveFile(const QString& path);
    // Shows a sound without a file (screenshots, demos).
    void ShowSound(std::shared_ptr<WaveData> sound, const QString& path);

    // The trigger folder, a separator, the time stamp of `filenameFormatType` and ".wav"; when
    // that file exists already "_2", "_3", ... go before ".wav", so a second recording in the
    // same second never replaces the first.
    std::filesystem::path BuildRecordingPath();

    // Observers.
    QAbstractButton* Button(int id) const;
    bool IsRecording() const { return session_.IsRecording(); }
    bool IsBusy() const { return worker_.Busy() || session_.IsStopping(); }
    bool IsPlaying() const;
    std::shared_ptr<const WaveData> Sound() const { return sound_; }
    QString SoundPath() const { return soundPath_; }
    WaveformView& View() const { return *view_; }
    QString ClockText() const { return clockText_; }
    bool IsClockStopped() const { return clockStopped_; }
    // The wait of the record-and-save under way before its stop; 0 when none is under way.
    int RecordAndSaveWaitMs() const {
        return recordAndSaveTimer_.isActive() ? recordAndSaveTimer_.interval() : 0;
    }
    // The clock text frozen by the stop-timer command, once (the settings window hands it to
    // the trigger list editor's duration); empty when the clock was not stopped since.
    QString TakeFrozenClock();

    // A file read, handed from the worker back to the page (defined with the page).
    struct LoadResult;

    // Runs the triggers over the sound shown, on a worker thread, and marks the waveform where
    // each fires and where a candidate was turned down (name and score). False when there is
    // no sound or a try is under way.
    bool TryTriggers();
    bool IsTrying() const { return trialWorker_.Busy(); }
    // The label of a mark: "Ad jingle 0.9312", a rejected candidate "Ad jingle 0.9312 rejected".
    static QString MarkLabel(const std::string& trigger, float score, bool fired);

signals:
    // A try of the triggers ended and its marks are shown.
    void TrialFinished(int marks);
    // Register: a saved sound to add to the trigger list, with its length in seconds.
    void RegisterRequested(const QString& path, double seconds);
    // The current sound changed (load, snapshot, save under a new name).
    void SoundChanged();
    // Record-and-save ended: the file it wrote, empty when nothing was saved (also when
    // nothing new was recorded).
    void RecordingSaved(const QString& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QHBoxLayout* BuildButtons();
    QHBoxLayout* BuildTrialRow();
    QToolButton* AddButton(int id, int face, const char* tip, bool pressable);
    void StartTimers();
    void SetButtons(std::initializer_list<std::pair<int, bool>> enabled);
    void SetPressed(int id, bool pressed);
    bool IsEnabled(int id) const;
    bool IsPressed(int id) const;
    void UpdateSave();
    void OnSelectionChanged();
    void ShowPendingTip();
    void ShowMessage(const QString& text, MessageIcon icon) const;
    RecordingSettings Settings() const;
    QString TriggerFolder() const;

    // Recording.
    void OnSnapshotPoll();
    void LoadSnapshot(RecordingSession::Snapshot snapshot);
    void ShowRecordedSound(std::shared_ptr<WaveData> sound);
    void FinishStop();
    void OnRecordAndSaveTimer();
    void SaveRecordedWindow();
    void FinishRecordAndSave(bool saved);
    void NothingNewRecorded();
    void SetRecordAndSaveTip(const char* tip);
    void UpdateClock();
    void StopClock();
    void Register();
    void UpdateTry();
    void ShowTrial(const std::shared_ptr<const WaveData>& sound,
                   const std::vector<scan::TrialMark>& marks);

    // Files.
    void Open();
    void FinishLoad(LoadResult result);
    void SaveSelection();

    // Playing.
    void Play();
    void Pause();
    void StopPlaying();
    void OnPlayEnded(int end);
    void OnPlayProgress();

    Setup setup_;
    const Clock* clock_;
    MessageSink showMessage_;
    FileChooser chooseFile_;

    WaveformView* view_ = nullptr;
    std::map<int, QAbstractButton*> buttons_;
    std::map<int, bool> pressed_;  // the pressed look of record, stop, play and pause
    QPushButton* clockButton_ = nullptr;

    std::shared_ptr<WaveData> sound_;
    QString soundPath_;

    RecordingSession session_;
    PlaybackControl playback_;

    bool clockStopped_ = false;
    QString clockText_;

    QTimer playProgressTimer_;
    QTimer snapshotPollTimer_;
    QTimer clockTimer_;
    QTimer recordAndSaveTimer_;
    QTimer tipTimer_;
    QAbstractButton* tipButton_ = nullptr;  // the button the pointer rests on

    UiWorker worker_;
    // The try button's worker, apart from file work so that each may run while the other does.
    UiWorker trialWorker_;
    std::shared_ptr<std::atomic<bool>> trialCancel_ = std::make_shared<std::atomic<bool>>(false);
    QToolButton* tryButton_ = nullptr;
    QLabel* trialResult_ = nullptr;
};

}  // namespace hushwell
