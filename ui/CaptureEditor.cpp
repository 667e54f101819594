#include "ui/CaptureEditor.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>
#include <vector>

#include "audio/LoopbackCapture.h"
#include "audio/SoundPlayer.h"
#include "base/FormatTimeStamp.h"
#include "detection/DetectionEngine.h"
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
constexpr int kClockHoursWrap = 100;
constexpr int kIconSize = 20;

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

QString ClockTextOf(std::uint64_t elapsedMs) {
    const std::uint64_t s = elapsedMs / 1000;
    return QString::asprintf("%02d:%02d:%02d", static_cast<int>(s / 3600 % kClockHoursWrap),
                             static_cast<int>(s % 3600 / 60), static_cast<int>(s % 60));
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

// The snapshot as copied out under the capture lock, ready for conversion off the lock.
struct CaptureEditor::SnapshotCopy {
    bool usable = false;
    bool pcm16 = false;
    WaveFormat format{};
    std::uint32_t frames = 0;
    std::vector<std::uint8_t> bytes;
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

// 16-bit sounds from the snapshot's samples; float samples are scaled to 16 bits (saturating).
std::shared_ptr<WaveData> ConvertSnapshot(const CaptureEditor::SnapshotCopy& copy) {
    if (!copy.usable || copy.frames == 0) {
        return nullptr;
    }
    const int channels = copy.format.channels;
    const auto rate = static_cast<int>(copy.format.sampleRate);
    const auto frames = static_cast<int>(copy.frames);
    const std::size_t count = static_cast<std::size_t>(copy.frames) * channels;
    auto sound = std::make_shared<WaveData>();
    if (copy.pcm16) {
        std::vector<std::int16_t> samples(count);
        std::memcpy(samples.data(), copy.bytes.data(), count * sizeof(std::int16_t));
        sound->AssignPcm16(rate, channels, frames, samples);
    } else {
        std::vector<float> samples(count);
        std::memcpy(samples.data(), copy.bytes.data(), count * sizeof(float));
        constexpr float kFullScale = 32767.0f;
        for (float& sample : samples) {
            sample *= kFullScale;
        }
        sound->AssignScaledFloat(rate, channels, frames, samples);
    }
    return sound->SampleCount() > 0 ? sound : nullptr;
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
      worker_(this) {
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
    connect(view_, &WaveformView::SelectionChanged, this, &CaptureEditor::OnSelectionChanged);

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
    // The player thread reports to this page; it ends first.
    player_.reset();
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
    setup_.capture = std::move(capture);
}

void CaptureEditor::SetBackend(AudioBackend* backend) {
    player_.reset();
    setup_.backend = backend;
    if (backend == nullptr) {
        return;
    }
    player_ = std::make_unique<SoundPlayer>(*backend, [this](SoundPlayer::PlayEnd end) {
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
    const bool idle = !recording_ && stopWaitsLeft_ == 0 && !IsPressed(kPlay) && !worker_.Busy();
    SetButtons({{kSave, valid && idle && sound_ != nullptr}});
}

// A new selection, or a new sound (whose whole length the view selects): the next play
// starts at its start, even after a pause.
void CaptureEditor::OnSelectionChanged() {
    if (player_) {
        const std::int64_t start = std::max<std::int64_t>(view_->Selection().first, 0);
        player_->Rewind(static_cast<std::uint32_t>(start));
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

void CaptureEditor::WithCapture(const std::function<void(LoopbackCapture*)>& use) const {
    if (setup_.capture) {
        setup_.capture(use);
    } else {
        use(nullptr);
    }
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
    recording_ = true;
    UpdateSave();
    WithCapture([](LoopbackCapture* capture) {
        if (capture != nullptr) {
            capture->SetHold(true);
        }
    });
    recordingStartTick_ = clock_->TickMs();
    clockButton_->setEnabled(true);
    clockStopped_ = false;
    clockText_ = QString::fromLatin1(kClockZero);
    clockButton_->setText(clockText_);
    snapshotPollTimer_.start(kSnapshotPollMs);
}

void CaptureEditor::StopRecording() {
    if (!recording_ || stopWaitsLeft_ > 0) {
        return;
    }
    snapshotPollTimer_.stop();
    // A snapshot the capture made by itself (a hold that filled the buffer) is taken as it is:
    // a new request would copy only what the trimmed history still holds.
    bool requested = false;
    WithCapture([&](LoopbackCapture* capture) {
        if (capture != nullptr && !capture->IsSnapshotReady()) {
            capture->RequestSnapshot(true);
        }
        requested = capture != nullptr;
    });
    if (!requested) {
        FinishStop();
        return;
    }
    // Until the snapshot is in, nothing may start that the new sound would overtake.
    SetButtons({{kStop, false}, {kRecord, false}, {kRecordAndSave, false}});
    stopWaitsLeft_ = kStopWaitTries;
    snapshotPollTimer_.start(0);
}

// The snapshot poll: while recording, looks for a snapshot the capture forced; after a stop, waits
// for the requested one (a time-out keeps the previous sound).
void CaptureEditor::OnSnapshotPoll() {
    if (stopWaitsLeft_ > 0) {
        if (TakeSnapshotIfReady()) {
            return;
        }
        if (--stopWaitsLeft_ == 0) {
            FinishStop();
        } else {
            snapshotPollTimer_.start(kStopWaitMs);
        }
        return;
    }
    if (!recording_) {
        return;
    }
    bool capturing = false;
    WithCapture([&](LoopbackCapture* capture) { capturing = capture != nullptr; });
    if (capturing && !TakeSnapshotIfReady()) {
        snapshotPollTimer_.start(kSnapshotPollMs);
    }
}

// Copies a ready snapshot out under the capture lock and converts it off the lock.
bool CaptureEditor::TakeSnapshotIfReady() {
    bool ready = false;
    SnapshotCopy copy;
    WithCapture([&](LoopbackCapture* capture) {
        if (capture == nullptr || !capture->IsSnapshotReady()) {
            return;
        }
        ready = true;
        copy.frames = capture->SnapshotFrameCount();
        if (!capture->DetectSampleType()) {
            return;
        }
        copy.format = capture->SnapshotFormat();
        copy.pcm16 = capture->SampleType() == LoopbackCapture::kSampleTypePcm16;
        const std::uint32_t bytesPerSample = copy.pcm16 ? 2 : 4;
        // Only one or two channels make an editor sound, in the sample type classified.
        copy.usable = copy.format.channels >= 1 && copy.format.channels <= 2 &&
                      copy.format.bitsPerSample == bytesPerSample * 8;
        if (!copy.usable) {
            return;
        }
        const std::span<const std::uint8_t> buffer = capture->SnapshotBuffer();
        const std::size_t frameSize = std::size_t{bytesPerSample} * copy.format.channels;
        copy.frames = static_cast<std::uint32_t>(
            std::min<std::size_t>(copy.frames, buffer.size() / frameSize));
        copy.bytes.assign(buffer.begin(), buffer.begin() + copy.frames * frameSize);
    });
    if (ready) {
        LoadSnapshot(std::move(copy));
    }
    return ready;
}

void CaptureEditor::LoadSnapshot(SnapshotCopy copy) {
    snapshotPollTimer_.stop();
    stopWaitsLeft_ = std::max(stopWaitsLeft_, 1);  // busy until the sound is in
    const bool started = worker_.Run(
        [copy = std::move(copy)] { return ConvertSnapshot(copy); },
        [this](std::shared_ptr<WaveData> sound) { ShowRecordedSound(std::move(sound)); });
    if (!started) {
        FinishStop();
    }
}

void CaptureEditor::ShowRecordedSound(std::shared_ptr<WaveData> sound) {
    if (sound) {
        recordedNew_ = true;
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
    recording_ = false;
    stopWaitsLeft_ = 0;
    snapshotPollTimer_.stop();
    SetPressed(kRecord, false);
    SetPressed(kPause, false);
    SetButtons({{kRecord, true}, {kStop, false}, {kPlay, true}, {kPause, false}, {kOpen, true}});
    // The stop held record-and-save back until the snapshot was in; a record-and-save of its
    // own gives it back when its file is written.
    if (!saveAfterStop_ && !recordAndSaveTimer_.isActive()) {
        SetButtons({{kRecordAndSave, true}});
    }
    UpdateSave();
    if (saveAfterStop_) {
        saveAfterStop_ = false;
        SaveRecordedWindow();
    }
}

void CaptureEditor::RecordAndSave() {
    if (!IsEnabled(kRecordAndSave) || !(IsEnabled(kRecord) || IsEnabled(kStop))) {
        return;
    }
    SetButtons({{kRecordAndSave, false}});
    SetRecordAndSaveTip(kRecordAndSaveTip);
    recordSettings_ = Settings();
    recordedNew_ = false;
    OnCommand(kRecord);
    const int waitSec =
        std::max(0, recordSettings_.triggerSoundSec - recordSettings_.preRecordingSec);
    constexpr int kExtraMs = 10;
    recordAndSaveTimer_.start(waitSec * 1000 + kExtraMs);
}

// The record-and-save timer: stops the recording; the save follows once its snapshot is in.
void CaptureEditor::OnRecordAndSaveTimer() {
    recordAndSaveTimer_.stop();
    if (!IsEnabled(kStop)) {
        FinishRecordAndSave(false);
        return;
    }
    if (recording_) {
        saveAfterStop_ = true;
        StopRecording();
        return;
    }
    OnCommand(kStop);
    SaveRecordedWindow();
}

// Writes the window of the sound this record-and-save recorded; without one (no capture, or
// the snapshot never came) nothing is written and the page says so.
void CaptureEditor::SaveRecordedWindow() {
    if (!recordedNew_) {
        NothingNewRecorded();
        return;
    }
    const std::shared_ptr<WaveData> sound = sound_;
    const std::optional<TimeWindow> window =
        sound
            ? RecordAndSaveWindow(FramesOf(*sound), sound->Format().sampleRate,
                                  recordSettings_.preRecordingSec, recordSettings_.triggerSoundSec)
            : std::nullopt;
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
    const std::filesystem::path folder = ToPath(TriggerFolder());
    const std::string stamp = FormatTimeStamp(Settings().filenameFormatType, false, *clock_);
    std::filesystem::path path = folder / (stamp + ".wav");
    std::error_code error;
    for (int n = 2; std::filesystem::exists(path, error); ++n) {
        path = folder / (stamp + "_" + std::to_string(n) + ".wav");
    }
    return path;
}

// ---- the elapsed-time clock

void CaptureEditor::UpdateClock() {
    if (!clockButton_->isEnabled()) {
        return;
    }
    clockButton_->setText(ClockTextOf(clock_->TickMs() - recordingStartTick_));
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
    if (recording_ || stopWaitsLeft_ > 0) {
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
    return playing_;
}

void CaptureEditor::Play() {
    if (!IsEnabled(kPlay) || IsPressed(kPlay) || !player_ || !sound_) {
        return;
    }
    const float a = view_->SelectionA();
    if (a < 0.0f || a == view_->SelectionB()) {
        return;
    }
    const FrameSpan selection = view_->Selection();
    if (!player_->Play(sound_, static_cast<std::uint32_t>(selection.first),
                       static_cast<std::uint32_t>(selection.last))) {
        return;
    }
    playing_ = true;
    SetPressed(kPlay, true);
    SetPressed(kPause, false);
    SetButtons({{kRecord, false}, {kStop, true}, {kPlay, false}, {kPause, true}, {kOpen, false}});
    UpdateSave();
    view_->StartPlayback([this] { return PlayPosition(); });
    playProgressTimer_.start();
}

void CaptureEditor::Pause() {
    if (!IsEnabled(kPause) || !player_) {
        return;
    }
    if (player_->IsPlaying()) {
        player_->Pause();
    } else {
        // The player ignores a pause before its stream has started; nothing has been heard
        // yet, so the play is stopped (the next one starts at the selection start).
        player_->Stop();
        if (!player_->IsBusy()) {
            playing_ = false;  // cancelled before it began: no end will be reported
            playProgressTimer_.stop();
            view_->StopPlayback();
        }
    }
    SetPressed(kPlay, false);
    SetPressed(kPause, true);
    SetButtons({{kPlay, true}, {kPause, false}, {kRecord, true}, {kOpen, true}});
    UpdateSave();
}

void CaptureEditor::StopPlaying() {
    if (player_) {
        player_->Stop();
    }
    playing_ = false;
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
    if (!player_ || player_->IsBusy()) {
        return;  // a next play has been asked for; its own end will come
    }
    playing_ = false;
    playProgressTimer_.stop();
    view_->StopPlayback();
    const bool paused = IsPressed(kPause);
    if (static_cast<SoundPlayer::PlayEnd>(end) == SoundPlayer::PlayEnd::Paused) {
        view_->SetPlayPosition(PlayPosition());
    }
    SetPressed(kPlay, false);
    SetButtons({{kRecord, true}, {kStop, paused}, {kPlay, true}, {kPause, false}, {kOpen, true}});
    UpdateSave();
}

void CaptureEditor::OnPlayProgress() {
    if (playing_) {
        view_->SetPlayPosition(PlayPosition());
    }
}

std::int64_t CaptureEditor::PlayPosition() const {
    return player_ ? std::int64_t{player_->PlayBase()} + player_->Cursor() : 0;
}

}  // namespace hushwell
