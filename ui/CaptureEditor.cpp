#include "ui/CaptureEditor.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

#include "audio/LoopbackCapture.h"
#include "detection/DetectionEngine.h"
#include "tools/scan/TrialScan.h"
#include "triggers/EventLog.h"
#include "ui/CaptureIcons.h"
#include "ui/CaptureSelection.h"
#include "ui/WaveformView.h"
#include "wav/WaveFile.h"

namespace hushwell {

namespace {

constexpr const char* kFileNotFound = "file not found";
constexpr const char* kFormatNotAcceptable = "audio format not acceptable";
constexpr const char* kSoundTooShort = "sound too short";
constexpr const char* kTriggerTooShort = "Trigger length should be longer than %2.1f seconds.";
constexpr const char* kWavFilter = "WAV Files (*.wav)";
constexpr const char* kWavSuffix = "wav";
constexpr const char* kClockZero = "00:00:00";
constexpr const char* kRecordAndSaveTip = "record & save";
constexpr const char* kNothingNewTip =
    "record & save: nothing new was recorded, so nothing was saved";
constexpr const char* kNothingNewLogLine =
    "Record & save: nothing new was recorded (no capture, or no snapshot came); nothing was "
    "saved.";
constexpr int kIconSize = 20;
constexpr const char* kTryText = "Try";
constexpr const char* kTryName = "try the triggers";
constexpr const char* kTryTip =
    "try the sound triggers on this sound (only the one selected on the Controls page, when "
    "one is): the waveform shows where each fires, and where a near match was rejected";
constexpr int kMarkScoreDecimals = 4;  // as the scan tool prints scores

std::filesystem::path ToPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

QString FileNameOf(const QString& path) {
    return QFileInfo(path).fileName();
}

// Whether a file name names a WAV file: ".wav" (or ".WAV") after its first character.
bool HasWaveName(const QString& name) {
    qsizetype at = name.indexOf(QStringLiteral(".wav"));
    if (at < 0) {
        at = name.indexOf(QStringLiteral(".WAV"));
    }
    return at > 0;
}

double DurationOf(const WaveData& sound) {
    const WaveFormat& format = sound.Format();
    if (format.sampleRate == 0 || format.channels == 0) {
        return 0.0;
    }
    return static_cast<double>(sound.SampleCount()) / format.sampleRate / format.channels;
}

}  // namespace

// A file read for the editor: the sound, or the message that refuses it.
struct CaptureEditor::LoadResult {
    QString path;
    std::shared_ptr<WaveData> sound;
    const char* message = nullptr;
};

namespace {

CaptureEditor::LoadResult ReadForEditor(const QString& path) {
    CaptureEditor::LoadResult result;
    result.path = path;
    auto sound = std::make_shared<WaveData>();
    const int code = ReadWaveFile(*sound, ToPath(path), kEditorOpenMaxSeconds);
    if (code == kWaveCannotOpen) {
        result.message = kFileNotFound;
    } else if (code != kWaveOk || CheckAudioFormat(sound->Format()) != 0) {
        result.message = kFormatNotAcceptable;
    } else if (DurationOf(*sound) < kMinSelectionSeconds) {
        result.message = kSoundTooShort;
    } else {
        result.sound = std::move(sound);
    }
    return result;
}

}  // namespace

CaptureEditor::CaptureAccess CaptureEditor::AccessOf(DetectionEngine& engine) {
    return [&engine](const std::function<void(LoopbackCapture*)>& use) {
        std::lock_guard lock(engine.CaptureMutex());
        use(engine.CaptureObject());
    };
}

CaptureEditor::CaptureEditor(Setup setup, QWidget* parent)
    : QWidget(parent),
      setup_(std::move(setup)),
      clock_(setup_.clock != nullptr ? setup_.clock : &SystemClock::Instance()),
      session_(*clock_),
      worker_(this),
      trialWorker_(this) {
    session_.SetCaptureAccess(setup_.capture);
    setObjectName(QStringLiteral("capturePage"));
    setAcceptDrops(true);
    showMessage_ = [this](const QString& text, MessageIcon icon) {
        QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                        QString(), text, QMessageBox::Ok, this);
        box.exec();
    };
    chooseFile_ = [this](FileDialog kind, const QString& folder) {
        QFileDialog dialog(this, QString(), folder, QString::fromLatin1(kWavFilter));
        dialog.setDefaultSuffix(QString::fromLatin1(kWavSuffix));
        if (kind == FileDialog::Save) {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
        } else {
            dialog.setFileMode(QFileDialog::ExistingFile);
        }
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().front()
                   : QString();
    };

    view_ = new WaveformView(this);
    view_->setAccessibleName(QStringLiteral("Waveform"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(BuildButtons());
    layout->addLayout(BuildTrialRow());
    connect(view_, &WaveformView::SelectionChanged, this, &CaptureEditor::OnSelectionChanged);
    connect(this, &CaptureEditor::SoundChanged, this, [this] {
        trialResult_->clear();  // the marks went with the sound
        UpdateTry();
    });
    UpdateTry();

    SetButtons({{kPlay, false}, {kPause, false}, {kStop, false}, {kRegister, false}});
    clockButton_->setEnabled(false);
    clockText_ = QString::fromLatin1(kClockZero);
    UpdateSave();
    StartTimers();
    if (setup_.backend != nullptr) {
        SetBackend(setup_.backend);
    }
}

CaptureEditor::~CaptureEditor() {
    // The player thread reports to this page; it ends first. A try under way stops early.
    playback_.Detach();
    trialCancel_->store(true);
}

QHBoxLayout* CaptureEditor::BuildButtons() {
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    const auto add = [&](int id, CaptureIcons::Face face, const char* tip, bool pressable) {
        row->addWidget(AddButton(id, face, tip, pressable));
    };
    add(kRecord, CaptureIcons::kRecord, "record", true);
    add(kStop, CaptureIcons::kStop, "stop", true);
    add(kPlay, CaptureIcons::kPlay, "play", true);
    add(kPause, CaptureIcons::kPause, "pause", true);
    row->addSpacing(12);
    add(kOpen, CaptureIcons::kOpen, "open a wav file", false);
    add(kSave, CaptureIcons::kSave, "save the selection", false);
    row->addSpacing(12);
    add(kZoom, CaptureIcons::kZoom, "zoom the selection", false);
    add(kZoomOut, CaptureIcons::kZoomOut, "zoom out", false);
    row->addSpacing(12);
    add(kRecordAndSave, CaptureIcons::kRecordAndSave, kRecordAndSaveTip, false);
    add(kRegister, CaptureIcons::kRegister, "append to the control list", false);
    row->addStretch(1);

    clockButton_ = new QPushButton(QString::fromLatin1(kClockZero), this);
    clockButton_->setObjectName(QStringLiteral("button%1").arg(kStopClock));
    clockButton_->setToolTip(QStringLiteral("stop timer"));
    clockButton_->setAccessibleName(clockButton_->toolTip());
    clockButton_->setFocusPolicy(Qt::TabFocus);
    connect(clockButton_, &QPushButton::clicked, this, [this] { OnCommand(kStopClock); });
    buttons_[kStopClock] = clockButton_;
    for (const auto& [id, button] : buttons_) {
        button->installEventFilter(this);
    }
    tipTimer_.setSingleShot(true);
    connect(&tipTimer_, &QTimer::timeout, this, &CaptureEditor::ShowPendingTip);
    row->addWidget(clockButton_);
    return row;
}

// The try button and what the last try found.
QHBoxLayout* CaptureEditor::BuildTrialRow() {
    auto* row = new QHBoxLayout;
    tryButton_ = new QToolButton(this);
    tryButton_->setText(QString::fromLatin1(kTryText));
    tryButton_->setObjectName(QStringLiteral("button%1").arg(kTryTriggers));
    tryButton_->setToolTip(QString::fromLatin1(kTryTip));
    tryButton_->setAccessibleName(QString::fromLatin1(kTryName));
    tryButton_->setFocusPolicy(Qt::TabFocus);
    connect(tryButton_, &QToolButton::clicked, this, [this] { OnCommand(kTryTriggers); });
    buttons_[kTryTriggers] = tryButton_;
    tryButton_->installEventFilter(this);
    trialResult_ = new QLabel(this);
    trialResult_->setObjectName(QStringLiteral("trialResult"));
    trialResult_->setAccessibleName(QStringLiteral("try result"));
    row->addWidget(tryButton_);
    row->addWidget(trialResult_, 1);
    return row;
}

QToolButton* CaptureEditor::AddButton(int id, int face, const char* tip, bool pressable) {
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("button%1").arg(id));
    button->setIcon(CaptureIcons::For(static_cast<CaptureIcons::Face>(face)));
    button->setIconSize(QSize(kIconSize, kIconSize));
    button->setAutoRaise(false);
    button->setToolTip(QString::fromLatin1(tip));
    button->setAccessibleName(button->toolTip());
    button->setCheckable(pressable);
    connect(button, &QToolButton::clicked, this, [this, id, button] {
        // The pressed look is the page's to set, not the click's.
        if (button->isCheckable()) {
            button->setChecked(pressed_[id]);
        }
        OnCommand(id);
    });
    buttons_[id] = button;
    return button;
}

void CaptureEditor::StartTimers() {
    playProgressTimer_.setInterval(kPlayProgressMs);
    connect(&playProgressTimer_, &QTimer::timeout, this, &CaptureEditor::OnPlayProgress);
    snapshotPollTimer_.setSingleShot(true);
    connect(&snapshotPollTimer_, &QTimer::timeout, this, &CaptureEditor::OnSnapshotPoll);
    recordAndSaveTimer_.setSingleShot(true);
    connect(&recordAndSaveTimer_, &QTimer::timeout, this, &CaptureEditor::OnRecordAndSaveTimer);
    clockTimer_.setInterval(kClockMs);
    connect(&clockTimer_, &QTimer::timeout, this, &CaptureEditor::UpdateClock);
    clockTimer_.start();
}

void CaptureEditor::SetCaptureAccess(CaptureAccess capture) {
    setup_.capture = capture;
    session_.SetCaptureAccess(std::move(capture));
}

void CaptureEditor::SetBackend(AudioBackend* backend) {
    playback_.Detach();
    setup_.backend = backend;
    playback_.Attach(backend, [this](SoundPlayer::PlayEnd end) {
        QMetaObject::invokeMethod(
            this, [this, end] { OnPlayEnded(static_cast<int>(end)); }, Qt::QueuedConnection);
    });
}

// While the page shows, its window cannot be made smaller than the editor needs.
void CaptureEditor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    window()->setMinimumSize(kMinimumWidth, kMinimumHeight);
}

void CaptureEditor::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (window() != this) {
        window()->setMinimumSize(0, 0);
    }
}

// Tool tips come up after the pointer has rested on a button for a while: longer on the four
// transport buttons, which are pressed often, shorter on the others.
bool CaptureEditor::eventFilter(QObject* watched, QEvent* event) {
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (button == nullptr) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::Enter: {
            tipButton_ = button;
            const bool transport = button == Button(kRecord) || button == Button(kStop) ||
                                   button == Button(kPlay) || button == Button(kPause);
            tipTimer_.start(transport ? kTransportTipDelayMs : kOtherTipDelayMs);
            break;
        }
        case QEvent::Leave:
            tipButton_ = nullptr;
            tipTimer_.stop();
            break;
        case QEvent::ToolTip:
            return true;  // the page's own timing decides
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void CaptureEditor::ShowPendingTip() {
    if (tipButton_ != nullptr) {
        QToolTip::showText(tipButton_->mapToGlobal(QPoint(0, tipButton_->height())),
                           tipButton_->toolTip(), tipButton_);
    }
}

// ---- buttons

QAbstractButton* CaptureEditor::Button(int id) const {
    const auto found = buttons_.find(id);
    return found != buttons_.end() ? found->second : nullptr;
}

void CaptureEditor::SetButtons(std::initializer_list<std::pair<int, bool>> enabled) {
    for (const auto& [id, on] : enabled) {
        if (QAbstractButton* button = Button(id)) {
            button->setEnabled(on);
        }
    }
}

void CaptureEditor::SetPressed(int id, bool pressed) {
    pressed_[id] = pressed;
    if (QAbstractButton* button = Button(id)) {
        button->setChecked(pressed);
    }
}

bool CaptureEditor::IsEnabled(int id) const {
    const QAbstractButton* button = Button(id);
    return button != nullptr && button->isEnabled();
}

bool CaptureEditor::IsPressed(int id) const {
    const auto found = pressed_.find(id);
    return found != pressed_.end() && found->second;
}

// Save needs a selection of two different ends on a sound, and a page that is neither
// recording nor playing nor busy with a file.
void CaptureEditor::UpdateSave() {
    const float a = view_->SelectionA();
    const float b = view_->SelectionB();
    const bool valid = a >= 0.0f && a <= 1.0f && b >= 0.0f && b <= 1.0f && a != b;
    const bool idle =
        !session_.IsRecording() && !session_.IsStopping() && !IsPressed(kPlay) && !worker_.Busy();
    SetButtons({{kSave, valid && idle && sound_ != nullptr}});
}

// A new selection, or a new sound (whose whole length the view selects): the next play
// starts at its start, even after a pause.
void CaptureEditor::OnSelectionChanged() {
    if (playback_.HasPlayer()) {
        const std::int64_t start = std::max<std::int64_t>(view_->Selection().first, 0);
        playback_.Rewind(static_cast<std::uint32_t>(start));
    }
    UpdateSave();
}

void CaptureEditor::OnCommand(int id) {
    switch (id) {
        case kRecord:
            StartRecording();
            break;
        case kStop:
            if (!IsEnabled(kStop)) {
                break;
            }
            if (IsPressed(kRecord)) {
                StopRecording();
            } else {
                StopPlaying();
            }
            break;
        case kPlay:
            Play();
            break;
        case kPause:
            Pause();
            break;
        case kOpen:
            Open();
            break;
        case kSave:
            SaveSelection();
            break;
        case kZoom:
            view_->Zoom();
            break;
        case kZoomOut:
            view_->ZoomOut();
            break;
        case kStopClock:
            StopClock();
            break;
        case kRecordAndSave:
            RecordAndSave();
            break;
        case kRegister:
            Register();
            break;
        case kTryTriggers:
            TryTriggers();
            break;
        default:
            break;
    }
}

void CaptureEditor::ShowMessage(const QString& text, MessageIcon icon) const {
    if (showMessage_) {
        showMessage_(text, icon);
    }
}

CaptureEditor::RecordingSettings CaptureEditor::Settings() const {
    return setup_.settings ? setup_.settings() : RecordingSettings{};
}

QString CaptureEditor::TriggerFolder() const {
    const std::filesystem::path folder =
        setup_.triggerFolder ? setup_.triggerFolder() : std::filesystem::path();
    return folder.empty() ? QDir::homePath() : QString::fromStdU16String(folder.u16string());
}

// ---- recording

void CaptureEditor::StartRecording() {
    if (!IsEnabled(kRecord) || IsPressed(kRecord)) {
        return;
    }
    SetButtons(
        {{kPlay, false}, {kStop, true}, {kPause, false}, {kOpen, false}, {kRegister, false}});
    SetPressed(kPause, false);
    SetPressed(kRecord, true);
    session_.Start();
    UpdateSave();
    clockButton_->setEnabled(true);
    clockStopped_ = false;
    clockText_ = QString::fromLatin1(kClockZero);
    clockButton_->setText(clockText_);
    snapshotPollTimer_.start(kSnapshotPollMs);
}

void CaptureEditor::StopRecording() {
    if (!session_.IsRecording() || session_.IsStopping()) {
        return;
    }
    snapshotPollTimer_.stop();
    if (!session_.Stop()) {
        FinishStop();
        return;
    }
    // Until the snapshot is in, nothing may start that the new sound would overtake.
    SetButtons({{kStop, false}, {kRecord, false}, {kRecordAndSave, false}});
    snapshotPollTimer_.start(0);
}

// The snapshot poll timer: carries out what the session's poll answers.
void CaptureEditor::OnSnapshotPoll() {
    RecordingSession::Next next = session_.Poll();
    switch (next.step) {
        case RecordingSession::Step::SnapshotReady:
            LoadSnapshot(std::move(next.snapshot));
            break;
        case RecordingSession::Step::GaveUp:
            FinishStop();
            break;
        case RecordingSession::Step::PollLater:
            snapshotPollTimer_.start(next.delayMs);
            break;
        case RecordingSession::Step::Idle:
            break;
    }
}

void CaptureEditor::LoadSnapshot(RecordingSession::Snapshot snapshot) {
    snapshotPollTimer_.stop();
    session_.MarkConverting();  // busy until the sound is in
    const bool started = worker_.Run(
        [snapshot = std::move(snapshot)] { return RecordingSession::Convert(snapshot); },
        [this](std::shared_ptr<WaveData> sound) { ShowRecordedSound(std::move(sound)); });
    if (!started) {
        FinishStop();
    }
}

void CaptureEditor::ShowRecordedSound(std::shared_ptr<WaveData> sound) {
    if (sound) {
        session_.NoteNewSound();
        sound_ = std::move(sound);
        soundPath_.clear();
        view_->SetSound(sound_, QString());
        emit SoundChanged();
    }
    FinishStop();
}

// The end of every recording: the buttons of "after a snapshot was loaded", then the rest of
// a record-and-save.
void CaptureEditor::FinishStop() {
    session_.Finish();
    snapshotPollTimer_.stop();
    SetPressed(kRecord, false);
    SetPressed(kPause, false);
    SetButtons({{kRecord, true}, {kStop, false}, {kPlay, true}, {kPause, false}, {kOpen, true}});
    // The stop held record-and-save back until the snapshot was in; a record-and-save of its
    // own gives it back when its file is written.
    if (!session_.IsSaveAfterStop() && !recordAndSaveTimer_.isActive()) {
        SetButtons({{kRecordAndSave, true}});
    }
    UpdateSave();
    if (session_.TakeSaveAfterStop()) {
        SaveRecordedWindow();
    }
}

void CaptureEditor::RecordAndSave() {
    if (!IsEnabled(kRecordAndSave) || !(IsEnabled(kRecord) || IsEnabled(kStop))) {
        return;
    }
    SetButtons({{kRecordAndSave, false}});
    SetRecordAndSaveTip(kRecordAndSaveTip);
    const int waitMs = session_.BeginRecordAndSave(Settings());
    OnCommand(kRecord);
    recordAndSaveTimer_.start(waitMs);
}

// The record-and-save timer: stops the recording; the save follows once its snapshot is in.
void CaptureEditor::OnRecordAndSaveTimer() {
    recordAndSaveTimer_.stop();
    if (!IsEnabled(kStop)) {
        FinishRecordAndSave(false);
        return;
    }
    if (session_.IsRecording()) {
        session_.SaveAfterStop();
        StopRecording();
        return;
    }
    OnCommand(kStop);
    SaveRecordedWindow();
}

// Writes the window of the sound this record-and-save recorded; without one (no capture, or
// the snapshot never came) nothing is written and the page says so.
void CaptureEditor::SaveRecordedWindow() {
    if (!session_.RecordedNew()) {
        NothingNewRecorded();
        return;
    }
    const std::shared_ptr<WaveData> sound = sound_;
    const std::optional<TimeWindow> window = sound ? session_.WindowOf(*sound) : std::nullopt;
    if (!window) {
        FinishRecordAndSave(false);
        return;
    }
    const float duration =
        static_cast<float>(FramesOf(*sound)) / static_cast<float>(sound->Format().sampleRate);
    view_->SetSelection(window->start / duration, window->end / duration);
    const auto rate = static_cast<float>(sound->Format().sampleRate);
    const auto firstFrame = static_cast<std::int64_t>(rate * window->start);
    const auto frameCount = static_cast<std::int64_t>(rate * (window->end - window->start));
    const std::filesystem::path path = BuildRecordingPath();
    const bool started = worker_.Run(
        [sound, path, firstFrame, frameCount] {
            return WriteWaveFile(path, FrameBytes(*sound, firstFrame, frameCount), sound->Format());
        },
        [this, sound, path](bool written) {
            const QString saved = written ? QString::fromStdU16String(path.u16string()) : QString();
            if (written && sound == sound_) {
                soundPath_ = saved;
                view_->SetFileName(FileNameOf(saved));
            }
            FinishRecordAndSave(written);
            emit RecordingSaved(saved);
        });
    if (!started) {
        FinishRecordAndSave(false);
    }
    UpdateSave();
}

// Register is offered only for a file this record-and-save wrote.
void CaptureEditor::FinishRecordAndSave(bool saved) {
    SetButtons({{kRecordAndSave, true}});
    if (saved) {
        SetButtons({{kRegister, true}});
    }
    UpdateSave();
}

void CaptureEditor::NothingNewRecorded() {
    WriteLogLine(kNothingNewLogLine);
    SetRecordAndSaveTip(kNothingNewTip);
    if (QAbstractButton* button = Button(kRecordAndSave); button != nullptr && isVisible()) {
        QToolTip::showText(button->mapToGlobal(QPoint(0, button->height())), button->toolTip(),
                           button);
    }
    FinishRecordAndSave(false);
    emit RecordingSaved(QString());
}

void CaptureEditor::SetRecordAndSaveTip(const char* tip) {
    if (QAbstractButton* button = Button(kRecordAndSave)) {
        button->setToolTip(QString::fromLatin1(tip));
        button->setAccessibleDescription(tip == kRecordAndSaveTip ? QString() : button->toolTip());
    }
}

std::filesystem::path CaptureEditor::BuildRecordingPath() {
    return RecordingSession::RecordingPath(ToPath(TriggerFolder()), Settings().filenameFormatType,
                                           *clock_);
}

// ---- the elapsed-time clock

void CaptureEditor::UpdateClock() {
    if (!clockButton_->isEnabled()) {
        return;
    }
    clockButton_->setText(QString::fromStdString(session_.ElapsedText()));
}

void CaptureEditor::StopClock() {
    if (!clockButton_->isEnabled()) {
        return;
    }
    UpdateClock();
    clockButton_->setEnabled(false);
    clockStopped_ = true;
    clockText_ = clockButton_->text();
}

QString CaptureEditor::TakeFrozenClock() {
    if (!clockStopped_) {
        return QString();
    }
    clockStopped_ = false;
    return clockText_;
}

// ---- register

void CaptureEditor::Register() {
    if (!IsEnabled(kRegister)) {
        return;
    }
    SetButtons({{kRegister, false}});
    StopClock();
    if (sound_ && HasWaveName(FileNameOf(soundPath_))) {
        emit RegisterRequested(soundPath_, DurationOf(*sound_));
    }
    SetButtons({{kRecordAndSave, true}});
}

// ---- files

void CaptureEditor::Open() {
    if (!IsEnabled(kOpen) || !IsEnabled(kRecord) || IsPressed(kRecord) || worker_.Busy()) {
        return;
    }
    const QString path = chooseFile_ ? chooseFile_(FileDialog::Open, TriggerFolder()) : QString();
    if (!path.isEmpty()) {
        LoadWaveFile(path);
    }
    StopClock();
}

bool CaptureEditor::LoadWaveFile(const QString& path) {
    if (!IsEnabled(kRecord) || IsPressed(kRecord) || worker_.Busy() || IsPressed(kPlay)) {
        return false;
    }
    const bool playWasEnabled = IsEnabled(kPlay);
    SetButtons({{kPlay, false}, {kStop, false}, {kOpen, false}, {kSave, false}});
    return worker_.Run([path] { return ReadForEditor(path); },
                       [this, playWasEnabled](LoadResult result) {
                           SetButtons({{kPlay, playWasEnabled}});
                           FinishLoad(std::move(result));
                       });
}

void CaptureEditor::FinishLoad(LoadResult result) {
    if (session_.IsRecording() || session_.IsStopping()) {
        return;  // a recording started meanwhile; its sound wins
    }
    SetButtons({{kOpen, true}});
    if (result.message != nullptr) {
        ShowMessage(QString::fromLatin1(result.message), MessageIcon::Error);
    } else {
        sound_ = std::move(result.sound);
        soundPath_ = result.path;
        view_->SetSound(sound_, FileNameOf(soundPath_));
        SetButtons({{kPlay, true}});
        emit SoundChanged();
    }
    UpdateSave();
    StopClock();
}

void CaptureEditor::ShowSound(std::shared_ptr<WaveData> sound, const QString& path) {
    sound_ = std::move(sound);
    soundPath_ = path;
    view_->SetSound(sound_, FileNameOf(path));
    SetButtons({{kPlay, sound_ != nullptr}});
    UpdateSave();
    trialResult_->clear();
    UpdateTry();
}

// --- Trying the triggers ---------------------------------------------------------------------

void CaptureEditor::UpdateTry() {
    tryButton_->setEnabled(sound_ != nullptr && setup_.trial && !trialWorker_.Busy());
}

QString CaptureEditor::MarkLabel(const std::string& trigger, float score, bool fired) {
    const QString label = QStringLiteral("%1 %2")
                              .arg(QString::fromStdString(trigger))
                              .arg(score, 0, 'f', kMarkScoreDecimals);
    return fired ? label : label + QStringLiteral(" rejected");
}

bool CaptureEditor::TryTriggers() {
    if (!sound_ || !setup_.trial || trialWorker_.Busy()) {
        return false;
    }
    TrialSetup trial = setup_.trial();
    if (!trial.triggers) {
        return false;
    }
    // The page replaces its sound but never changes one, so the worker may read it.
    std::shared_ptr<const WaveData> sound = sound_;
    std::shared_ptr<std::atomic<bool>> cancel = trialCancel_;
    const bool started = trialWorker_.Run(
        [trial = std::move(trial), sound, cancel] {
            const scan::TrialScan::Request request{trial.triggers.get(), trial.onlySerial,
                                                   trial.triggersFolder, trial.verification,
                                                   cancel.get()};
            return scan::TrialScan::Run(request, *sound);
        },
        [this, sound](std::vector<scan::TrialMark> marks) { ShowTrial(sound, marks); });
    UpdateTry();
    return started;
}

void CaptureEditor::ShowTrial(const std::shared_ptr<const WaveData>& sound,
                              const std::vector<scan::TrialMark>& marks) {
    UpdateTry();
    if (sound != sound_) {
        return;  // another sound came meanwhile; these marks are not about it
    }
    std::vector<WaveformView::Mark> shown;
    shown.reserve(marks.size());
    for (const scan::TrialMark& mark : marks) {
        shown.push_back(
            {mark.seconds, MarkLabel(mark.trigger, mark.score, mark.fired), mark.fired});
    }
    view_->SetMarks(std::move(shown));
    const auto fired = std::count_if(marks.begin(), marks.end(),
                                     [](const scan::TrialMark& mark) { return mark.fired; });
    trialResult_->setText(QStringLiteral("%1 firings, %2 rejected candidates")
                              .arg(fired)
                              .arg(static_cast<qsizetype>(marks.size()) - fired));
    emit TrialFinished(static_cast<int>(marks.size()));
}

void CaptureEditor::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && IsEnabled(kRecord) && !IsPressed(kRecord)) {
        event->acceptProposedAction();
    }
}

void CaptureEditor::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) {
        return;
    }
    event->acceptProposedAction();
    LoadWaveFile(urls.front().toLocalFile());
    StopClock();
}

void CaptureEditor::SaveSelection() {
    if (!IsEnabled(kSave) || !sound_ || sound_->SampleCount() <= 0) {
        return;
    }
    const float a = view_->SelectionA();
    const float b = view_->SelectionB();
    if (!(a >= 0.0f && a <= 1.0f && b >= 0.0f && b <= 1.0f && a != b)) {
        return;
    }
    const WaveFormat& format = sound_->Format();
    const SampleRange range = SelectionSamples(sound_->SampleCount(), format.channels, a, b);
    if (!IsLongEnoughForTrigger(range, format.sampleRate, format.channels)) {
        ShowMessage(QString::asprintf(kTriggerTooShort, static_cast<double>(kMinSelectionSeconds)),
                    MessageIcon::None);
        return;
    }
    QString path = chooseFile_ ? chooseFile_(FileDialog::Save, TriggerFolder()) : QString();
    if (path.isEmpty()) {
        return;
    }
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".") + QString::fromLatin1(kWavSuffix);
    }
    const std::shared_ptr<WaveData> sound = sound_;
    const std::int64_t channels = format.channels;
    worker_.Run(
        [sound, path, range, channels] {
            return WriteWaveFile(
                ToPath(path),
                FrameBytes(*sound, range.first / channels, (range.end - range.first) / channels),
                sound->Format());
        },
        [this, sound, path](bool written) {
            if (written && sound == sound_) {
                soundPath_ = path;
                view_->SetFileName(FileNameOf(path));
                emit SoundChanged();
            }
            UpdateSave();
        });
    UpdateSave();
}

// ---- playing

bool CaptureEditor::IsPlaying() const {
    return playback_.IsPlaying();
}

void CaptureEditor::Play() {
    if (!IsEnabled(kPlay) || IsPressed(kPlay) || !playback_.HasPlayer() || !sound_) {
        return;
    }
    const float a = view_->SelectionA();
    if (a < 0.0f || a == view_->SelectionB()) {
        return;
    }
    const FrameSpan selection = view_->Selection();
    if (!playback_.Play(sound_, static_cast<std::uint32_t>(selection.first),
                        static_cast<std::uint32_t>(selection.last))) {
        return;
    }
    SetPressed(kPlay, true);
    SetPressed(kPause, false);
    SetButtons({{kRecord, false}, {kStop, true}, {kPlay, false}, {kPause, true}, {kOpen, false}});
    UpdateSave();
    view_->StartPlayback([this] { return playback_.Position(); });
    playProgressTimer_.start();
}

void CaptureEditor::Pause() {
    if (!IsEnabled(kPause) || !playback_.HasPlayer()) {
        return;
    }
    if (playback_.Pause()) {
        playProgressTimer_.stop();
        view_->StopPlayback();
    }
    SetPressed(kPlay, false);
    SetPressed(kPause, true);
    SetButtons({{kPlay, true}, {kPause, false}, {kRecord, true}, {kOpen, true}});
    UpdateSave();
}

void CaptureEditor::StopPlaying() {
    playback_.Stop();
    playProgressTimer_.stop();
    view_->StopPlayback();
    view_->SetPlayPosition(view_->Selection().first);
    SetPressed(kPlay, false);
    SetPressed(kPause, false);
    SetButtons({{kPause, false}, {kPlay, true}, {kStop, false}, {kRecord, true}, {kOpen, true}});
    UpdateSave();
}

// The player's report of a play's end, on this thread.
void CaptureEditor::OnPlayEnded(int end) {
    if (!playback_.Ended()) {
        return;  // a next play has been asked for; its own end will come
    }
    playProgressTimer_.stop();
    view_->StopPlayback();
    const bool paused = IsPressed(kPause);
    if (static_cast<SoundPlayer::PlayEnd>(end) == SoundPlayer::PlayEnd::Paused) {
        view_->SetPlayPosition(playback_.Position());
    }
    SetPressed(kPlay, false);
    SetButtons({{kRecord, true}, {kStop, paused}, {kPlay, true}, {kPause, false}, {kOpen, true}});
    UpdateSave();
}

void CaptureEditor::OnPlayProgress() {
    if (playback_.IsPlaying()) {
        view_->SetPlayPosition(playback_.Position());
    }
}

}  // namespace hushwell
