#include "ui/TriggerEditor.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "base/Clock.h"
#include "detection/DetectionEngine.h"
#include "detection/ReferenceSet.h"
#include "persistence/TriggerListFile.h"
#include "ui/EngineListHandOff.h"
#include "ui/MeterDelegate.h"
#include "ui/ProgramFileFilter.h"
#include "ui/ReplaceOrMergeDialog.h"
#include "ui/TriggerForm.h"
#include "ui/TriggerListModel.h"
#include "ui/TriggerListOrder.h"
#include "ui/TriggerMeter.h"
#include "wav/WaveFile.h"

namespace hushwell {

namespace {

constexpr const char* kOpenFailed = "Failed to open the control list.";
constexpr const char* kSaveFailed = "Failed to save the control list";
constexpr const char* kBadAudioFormat = "audio format not acceptable";
constexpr const char* kKindFull = "The list already holds the most triggers of that kind.";
constexpr const char* kListFilter = "XML Files (*.xml)";
constexpr const char* kListSuffix = "xml";
constexpr const char* kWaveFilter = "WAV Files (*.wav)";
constexpr const char* kNotAProgram = "%1\nis not a program: the file is not executable.";
constexpr const char* kGroupViewText = "Show trigger type(&S)";
constexpr int kSortIconSize = 12;
constexpr int kMeterEms = 7;  // the meter column's width, in widths of "m"
// The list's colours: background, row background and grid lines.
constexpr const char* kListStyle =
    "QTreeView { background: #E6E6E6; }"
    "QTreeView::item { background: #F0F0F0; border-right: 1px solid #C8C8C8;"
    " border-bottom: 1px solid #C8C8C8; }"
    "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); "
    "}";

struct ButtonFace {
    const char* text;
    const char* tip;
    const char* objectName;
    QStyle::StandardPixmap icon;
};
constexpr ButtonFace kOpenButton = {"OPEN", "open a control list", "open",
                                    QStyle::SP_DialogOpenButton};
constexpr ButtonFace kSaveButton = {"SAVE", "save the control list", "save",
                                    QStyle::SP_DialogSaveButton};
constexpr ButtonFace kAddButton = {"Add", "append to the control list", "add", QStyle::SP_FileIcon};
constexpr ButtonFace kDeleteButton = {"Delete", "delete the control(s)", "delete",
                                      QStyle::SP_TrashIcon};
constexpr ButtonFace kApplyButton = {"Apply", "apply changes", "apply",
                                     QStyle::SP_DialogApplyButton};

QToolButton* MakeButton(const ButtonFace& face, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(QString::fromLatin1(face.text));
    button->setToolTip(QString::fromLatin1(face.tip));
    button->setAccessibleName(QString::fromLatin1(face.text));
    button->setAccessibleDescription(QString::fromLatin1(face.tip));
    button->setObjectName(QString::fromLatin1(face.objectName));
    button->setIcon(parent->style()->standardIcon(face.icon));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return button;
}

// The header images of the three sort states: none yet, next click descending, next click
// ascending. Drawn in code so they stay sharp at every scale.
QIcon SortIcon(int state) {
    QPixmap pixmap(kSortIconSize * 2, kSortIconSize * 2);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    if (state != 0) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x40, 0x40, 0x40));
        const double s = kSortIconSize;
        const QPolygonF down = {QPointF(2, 4), QPointF(s - 2, 4), QPointF(s / 2, s - 3)};
        const QPolygonF up = {QPointF(2, s - 3), QPointF(s - 2, s - 3), QPointF(s / 2, 4)};
        painter.drawPolygon(state == 1 ? down : up);
    }
    return QIcon(pixmap);
}

int SlotOf(TriggerKind kind) {
    return static_cast<int>(kind);
}

}  // namespace

TriggerEditor::TriggerEditor(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Controls"));
    list_.SetLimits(TriggerList::kDefaultMaxSound, TriggerList::kDefaultMaxTime,
                    TriggerList::kDefaultMaxLevel);
    list_.SetBaseDir(TriggerList::kDefaultBaseDir);
    for (int state = 0; state < kSortStates; ++state) {
        sortIcons_[static_cast<std::size_t>(state)] = SortIcon(state);
    }
    DefaultDialogs();
    writer_.save = &TriggerListFile::Save;
    BuildControls();
    ConnectControls();
    InstallEnterAsTab();
    Rebuild();
    form_->ShowReset();
    SetButtons(true, false, false);
}

TriggerEditor::~TriggerEditor() = default;

void TriggerEditor::DefaultDialogs() {
    dialogs_.error = [this](const QString& message) {
        QMessageBox::critical(this, QString(), message);
    };
    dialogs_.replaceOrMerge = [this] { return ReplaceOrMergeDialog(this).Ask(); };
    dialogs_.openFile = [this](const QString& caption, const QString& folder,
                               const QString& filter) {
        return QFileDialog::getOpenFileName(this, caption, folder, filter);
    };
    dialogs_.openProgram = [this](const QString& caption) {
        QFileDialog chooser(this, caption);
        ProgramFileFilter::Install(chooser);
        return chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()
                   ? chooser.selectedFiles().front()
                   : QString();
    };
    dialogs_.saveFile = [this](const QString& caption, const QString& folder,
                               const QString& filter) {
        QFileDialog chooser(this, caption, folder, filter);
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        chooser.setDefaultSuffix(QString::fromLatin1(kListSuffix));
        return chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()
                   ? chooser.selectedFiles().front()
                   : QString();
    };
}

void TriggerEditor::BuildControls() {
    BuildList();
    form_ = new TriggerForm(this);
    form_->lengthThresholdOf = [this](const QString& file) {
        return ReferenceSet::LengthThresholdOf(file.toStdString(), list_.BaseDir(),
                                               paths_.soundFolder);
    };
    BuildButtons();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open_);
    buttons->addWidget(save_);
    buttons->addStretch();
    buttons->addWidget(add_);
    buttons->addWidget(delete_);
    buttons->addWidget(apply_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addWidget(form_);
    layout->addLayout(buttons);
}

void TriggerEditor::BuildList() {
    model_ = new TriggerListModel(this);
    view_ = new QTreeView(this);
    view_->setObjectName(QStringLiteral("triggerList"));
    view_->setAccessibleName(QStringLiteral("Triggers"));
    view_->setModel(model_);
    view_->setRootIsDecorated(false);
    view_->setItemsExpandable(false);
    view_->setUniformRowHeights(true);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setDragEnabled(true);
    view_->setAcceptDrops(true);
    view_->setDropIndicatorShown(true);
    view_->setDragDropMode(QAbstractItemView::DragDrop);
    view_->setDragDropOverwriteMode(true);
    view_->setDefaultDropAction(Qt::MoveAction);
    view_->setStyleSheet(QString::fromLatin1(kListStyle));
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->setMinimumHeight(view_->fontMetrics().height() * 4);
    QHeaderView* header = view_->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int column = 0; column < TriggerListModel::kColumnCount; ++column) {
        UpdateHeaderIcon(column);
    }
    SetColumnWidths({0, 0, 0});
    auto* meterDelegate = new MeterDelegate(view_);
    view_->setItemDelegateForColumn(TriggerListModel::kMeterColumn, meterDelegate);
    header->setSectionResizeMode(TriggerListModel::kMeterColumn, QHeaderView::Fixed);
    header->resizeSection(TriggerListModel::kMeterColumn,
                          view_->fontMetrics().horizontalAdvance(QLatin1Char('m')) * kMeterEms);
    meter_ = new TriggerMeter(*model_, this);

    listMenu_ = new QMenu(this);
    groupViewAction_ = listMenu_->addAction(QString::fromLatin1(kGroupViewText));
    groupViewAction_->setCheckable(true);
}

void TriggerEditor::BuildButtons() {
    open_ = MakeButton(kOpenButton, this);
    save_ = MakeButton(kSaveButton, this);
    add_ = MakeButton(kAddButton, this);
    delete_ = MakeButton(kDeleteButton, this);
    apply_ = MakeButton(kApplyButton, this);
}

void TriggerEditor::ConnectControls() {
    connect(open_, &QToolButton::clicked, this, &TriggerEditor::Open);
    connect(save_, &QToolButton::clicked, this, &TriggerEditor::SaveAs);
    connect(add_, &QToolButton::clicked, this, &TriggerEditor::Add);
    connect(delete_, &QToolButton::clicked, this, &TriggerEditor::DeleteSelected);
    connect(apply_, &QToolButton::clicked, this, &TriggerEditor::Apply);
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TriggerEditor::OnSelectionChanged);
    connect(view_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (model_->PositionOf(index) >= 0) {
            loadedRow_ = -1;
            ShowSelectedRecord();
        }
    });
    connect(view_->header(), &QHeaderView::sectionClicked, this, &TriggerEditor::ClickHeader);
    connect(view_, &QTreeView::customContextMenuRequested, this,
            [this](const QPoint& at) { listMenu_->popup(view_->viewport()->mapToGlobal(at)); });
    connect(groupViewAction_, &QAction::toggled, this, &TriggerEditor::SetGroupView);
    connect(form_, &TriggerForm::Edited, this, [this] { OnFormEdited(false); });
    connect(form_, &TriggerForm::KindChanged, this, [this] { OnFormEdited(false); });
    connect(form_, &TriggerForm::TriggerTimeEdited, this, [this] { OnFormEdited(true); });
    connect(form_, &TriggerForm::SoundChooserRequested, this, &TriggerEditor::ChooseSoundFile);
    connect(form_, &TriggerForm::CommandChooserRequested, this, &TriggerEditor::ChooseCommand);
    // Drops are carried out from the event loop, after the view has finished its drop.
    model_->onRowDropped = [this](int source, int target) {
        QTimer::singleShot(0, this, [this, source, target] { MoveRow(source, target); });
    };
    model_->onFilesDropped = [this](const QStringList& paths) {
        QTimer::singleShot(0, this, [this, paths] { DropFiles(paths); });
    };
}

// Enter in the page moves the focus on, as Tab does.
void TriggerEditor::InstallEnterAsTab() {
    for (QWidget* child : findChildren<QWidget*>()) {
        if (!child->isWindow()) {
            child->installEventFilter(this);
        }
    }
}

bool TriggerEditor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers() == Qt::NoModifier) {
            focusNextChild();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- Set-up -------------------------------------------------------------------------------

void TriggerEditor::SetPaths(const ProgramPaths& paths) {
    paths_ = paths;
    store_ = TriggerListStore(paths);
}

void TriggerEditor::SetDialogs(Dialogs dialogs) {
    dialogs_ = std::move(dialogs);
}

void TriggerEditor::SetWriter(Writer writer) {
    writer_ = std::move(writer);
}

void TriggerEditor::SetEngineLink(EngineLink link) {
    engine_ = std::move(link);
}

void TriggerEditor::AttachEngine(DetectionEngine& engine) {
    handOff_ = std::make_unique<EngineListHandOff>(engine);
    EngineListHandOff* handOff = handOff_.get();
    engine_.takeOver = [handOff](const TriggerList& list) { handOff->Submit(list); };
    engine_.cancelRunnersOf = [handOff](std::uint32_t serialId) {
        handOff->CancelRunnersOf(serialId);
    };
    CopyList(engine.Triggers());
    AttachMeter(engine.Scores(), SystemClock::Instance());
}

void TriggerEditor::AttachMeter(ScoreBoard& board, const Clock& clock) {
    meter_->SetSource(&board, &clock);
}

void TriggerEditor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    meter_->SetShown(true);
}

void TriggerEditor::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    meter_->SetShown(false);
}

// The copy carries the list's base folder: the sound files are named relative to it, and
// every save and hand-over writes it back.
void TriggerEditor::CopyList(const TriggerList& list) {
    list_.SetBaseDir(list.BaseDir());
    list_.Assign(list);
    Rebuild();
}

std::string TriggerEditor::ListPath() const {
    return store_.Path();
}

QString TriggerEditor::SoundFolder() const {
    const std::string base = list_.BaseDir();
    if (!base.empty() && base.front() == '/') {
        return QString::fromStdString(base);
    }
    if (paths_.dataFolder.empty()) {
        return {};
    }
    return QString::fromStdString(paths_.soundFolder);
}

// --- List -----------------------------------------------------------------------------------

void TriggerEditor::Rebuild(int select) {
    rebuilding_ = true;
    model_->SetRows(TriggerListModel::RowsOf(list_));
    if (model_->GroupView()) {
        for (int group = 0; group < model_->rowCount(); ++group) {
            view_->setFirstColumnSpanned(group, QModelIndex(), true);
        }
        view_->expandAll();
    }
    loadedRow_ = -1;
    const QModelIndex index = model_->IndexOfPosition(select);
    if (index.isValid()) {
        view_->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view_->scrollTo(index);
        view_->setFocus();
    }
    delete_->setEnabled(index.isValid());
    rebuilding_ = false;
}

std::vector<int> TriggerEditor::SelectedRows() const {
    std::vector<int> positions;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows()) {
        const int position = model_->PositionOf(index);
        if (position >= 0) {
            positions.push_back(position);
        }
    }
    std::sort(positions.begin(), positions.end());
    return positions;
}

void TriggerEditor::SelectRows(const std::vector<int>& positions) {
    QItemSelection selection;
    for (const int position : positions) {
        const QModelIndex index = model_->IndexOfPosition(position);
        if (index.isValid()) {
            selection.select(index, index);
        }
    }
    QItemSelectionModel* model = view_->selectionModel();
    model->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (!positions.empty()) {
        model->setCurrentIndex(model_->IndexOfPosition(positions.back()),
                               QItemSelectionModel::NoUpdate);
    }
}

void TriggerEditor::OnSelectionChanged() {
    if (rebuilding_) {
        return;
    }
    const std::vector<int> selected = SelectedRows();
    delete_->setEnabled(!selected.empty());
    if (selected.size() == 1 && selected.front() != loadedRow_) {
        ShowSelectedRecord();
    }
}

std::optional<std::uint32_t> TriggerEditor::SelectedSoundSerial() const {
    const std::vector<int> selected = SelectedRows();
    if (selected.size() != 1 || model_->RowAt(selected.front()).kind != TriggerKind::Sound) {
        return std::nullopt;
    }
    return model_->RowAt(selected.front()).serialId;
}

bool TriggerEditor::RecordAt(int position, Trigger& record, TriggerKind& kind, int& index) const {
    std::lock_guard guard(list_.Mutex());
    const TriggerList::Selection at = list_.MapSelection(position);
    if (at.sound > 0) {
        kind = TriggerKind::Sound;
        index = at.sound - 1;
    } else if (at.time > 0) {
        kind = TriggerKind::Time;
        index = at.time - 1;
    } else if (at.level > 0) {
        kind = TriggerKind::Level;
        index = at.level - 1;
    } else {
        return false;
    }
    const Trigger* found = list_.Get(kind, index);
    if (found == nullptr) {
        return false;
    }
    record = *found;
    return true;
}

void TriggerEditor::ShowSelectedRecord() {
    const std::vector<int> selected = SelectedRows();
    if (selected.empty()) {
        return;
    }
    Trigger record;
    TriggerKind kind = TriggerKind::Sound;
    int index = 0;
    if (!RecordAt(selected.front(), record, kind, index)) {
        return;
    }
    form_->ShowRecord(record);
    loadedRow_ = selected.front();
    SetButtons(false, false, true);
}

void TriggerEditor::OnFormEdited(bool triggerTime) {
    add_->setEnabled(true);
    if (triggerTime || !SelectedRows().empty()) {
        apply_->setEnabled(true);
    }
}

void TriggerEditor::SetButtons(bool add, bool apply, bool del) {
    add_->setEnabled(add);
    apply_->setEnabled(apply);
    delete_->setEnabled(del);
}

// --- Commands -------------------------------------------------------------------------------

void TriggerEditor::Add() {
    const Trigger record = form_->BuildRecord();
    int position = -1;
    {
        std::lock_guard guard(list_.Mutex());
        if (list_.FindSame(record) != nullptr) {
            return;
        }
        const int before = list_.Count(record.GetTriggerKind());
        list_.Add(record);
        if (list_.Count(record.GetTriggerKind()) == before) {
            Rebuild();  // the kind is full: nothing was added
            return;
        }
        position = list_.IndexOfSame(record);
    }
    Rebuild(position);
    Commit();
    SetButtons(false, false, true);
}

namespace {

// Step 3 of Apply: the form's values for the record's (new) kind. The active text stays.
void CopyFormValues(Trigger& target, const Trigger& form, TriggerKind kind) {
    std::lock_guard guard(target.Mutex());
    target.SetControl(form.control);
    target.name = form.name;
    target.duration = form.duration;
    switch (kind) {
        case TriggerKind::Sound:
            target.triggerFile = form.triggerFile;
            target.target = form.target;
            // The monitoring window is part of a sound trigger too; it is applied like the rest.
            target.startTime = form.startTime;
            target.endTime = form.endTime;
            target.every = false;
            target.timeOfDay.Zero();
            target.level = Trigger::kDefaultLevel;
            break;
        case TriggerKind::Time:
            target.timeOfDay = form.timeOfDay;
            target.target = form.target;
            target.every = form.every;
            target.startTime = form.every ? form.startTime : TriggerTime();
            target.endTime = form.every ? form.endTime : TriggerTime();
            target.level = Trigger::kDefaultLevel;
            target.dayFlags = form.dayFlags;
            target.triggerFile.clear();
            break;
        case TriggerKind::Level:
            target.startTime = form.startTime;
            target.endTime = form.endTime;
            target.level = form.level;
            target.triggerFile.clear();
            target.timeOfDay.Zero();
            target.every = false;
            break;
        case TriggerKind::Other:
            break;
    }
    const bool exec = form.GetControlKind() == ControlKind::Exec;
    target.command = exec ? form.command : std::string();
    target.commandArgs = exec ? form.commandArgs : std::string();
}

}  // namespace

void TriggerEditor::Apply() {
    const std::vector<int> selected = SelectedRows();
    if (selected.empty()) {
        return;
    }
    Trigger old;
    TriggerKind oldKind = TriggerKind::Sound;
    int oldIndex = 0;
    if (!RecordAt(selected.front(), old, oldKind, oldIndex)) {
        return;
    }
    const Trigger form = form_->BuildRecord();
    const TriggerKind newKind = form.GetTriggerKind();
    int position = selected.front();
    {
        std::lock_guard guard(list_.Mutex());
        Trigger* target = nullptr;
        if (newKind == oldKind) {
            target = list_.Get(oldKind, oldIndex);
            target->serialId = list_.NextSerialId();
        } else {
            // Moving a record into a full kind would lose it: the change is refused instead.
            if (list_.Count(newKind) >= list_.Limit(newKind)) {
                dialogs_.error(QString::fromLatin1(kKindFull));
                return;
            }
            Trigger moved(old);
            list_.Remove(oldKind, oldIndex);
            moved.triggerKind = std::string(TriggerKindWord(newKind));
            list_.Add(moved);
            const int last = list_.Count(newKind) - 1;
            target = list_.Get(newKind, last);
            position = last;
            for (int slot = 0; slot < SlotOf(newKind); ++slot) {
                position += list_.Count(static_cast<TriggerKind>(slot));
            }
        }
        CancelRunnersOf(old.serialId);
        CopyFormValues(*target, form, newKind);
    }
    Rebuild(position);
    Commit();
    SetButtons(false, false, true);
}

void TriggerEditor::DeleteSelected() {
    const std::vector<int> selected = SelectedRows();
    if (selected.empty()) {
        return;
    }
    // Taking the first selected row each time: every earlier deletion moves the later rows
    // up by one.
    int lastDeleted = -1;
    {
        std::lock_guard guard(list_.Mutex());
        for (std::size_t i = 0; i < selected.size(); ++i) {
            const int position = selected[i] - static_cast<int>(i);
            Trigger record;
            TriggerKind kind = TriggerKind::Sound;
            int index = 0;
            if (!RecordAt(position, record, kind, index)) {
                continue;
            }
            list_.Remove(kind, index);
            CancelRunnersOf(record.serialId);
            lastDeleted = position;
        }
    }
    const int rows = list_.CountSound() + list_.CountTime() + list_.CountLevel();
    const int select = std::min(lastDeleted, rows - 1);
    Rebuild(select);
    Commit();
    delete_->setEnabled(rows > 0 && select >= 0);
}

void TriggerEditor::Open() {
    const QString path = dialogs_.openFile(QStringLiteral("Open a control list"), SoundFolder(),
                                           QString::fromLatin1(kListFilter));
    if (path.isEmpty()) {
        return;
    }
    const int answer = dialogs_.replaceOrMerge();
    int result = TriggerListFile::kOk;
    if (answer == ReplaceOrMergeDialog::kReplace) {
        // Loaded into a copy first: a file that fails half-way changes nothing.
        TriggerList loaded;
        loaded.SetBaseDir(list_.BaseDir());
        loaded.Assign(list_);
        result = TriggerListFile::Load(loaded, path.toStdString());
        if (result == TriggerListFile::kOk) {
            list_.Assign(loaded);
            list_.SetBaseDir(loaded.BaseDir());
        }
    } else {
        result = TriggerListFile::LoadAndMerge(list_, path.toStdString());
    }
    if (result != TriggerListFile::kOk) {
        dialogs_.error(QString::fromLatin1(kOpenFailed));
        return;
    }
    Rebuild();
    Commit();
    delete_->setEnabled(false);
    update();
}

void TriggerEditor::DropFiles(const QStringList& paths) {
    TriggerList collected;
    for (const QString& path : paths) {
        if (path.size() > kMaxDropPathChars) {
            continue;
        }
        TriggerList one;
        if (TriggerListFile::Load(one, path.toStdString()) == TriggerListFile::kOk) {
            collected.Merge(one);
        }
    }
    if (collected.CountSound() + collected.CountTime() + collected.CountLevel() == 0) {
        return;
    }
    if (dialogs_.replaceOrMerge() == ReplaceOrMergeDialog::kReplace) {
        list_.Assign(collected);
    } else {
        list_.Merge(collected);
    }
    Rebuild();
    Commit();
    delete_->setEnabled(false);
    update();
}

void TriggerEditor::SaveAs() {
    const QString path = dialogs_.saveFile(QStringLiteral("Save the control list"), SoundFolder(),
                                           QString::fromLatin1(kListFilter));
    if (path.isEmpty()) {
        return;
    }
    if (writer_.save(list_, path.toStdString()) != TriggerListFile::kOk) {
        dialogs_.error(QString::fromLatin1(kSaveFailed));
    }
}

void TriggerEditor::ChooseSoundFile() {
    const QString path = dialogs_.openFile(QStringLiteral("Choose a sound file"), SoundFolder(),
                                           QString::fromLatin1(kWaveFilter));
    if (path.isEmpty()) {
        return;
    }
    if (CheckEditorWaveFile(std::filesystem::path(path.toStdString())) != kEditorFileOk) {
        dialogs_.error(QString::fromLatin1(kBadAudioFormat));
        return;
    }
    form_->SetSoundFile(SoundFileFieldFor(path), NameFromSoundFile(path));
}

void TriggerEditor::ChooseCommand() {
    const QString path =
        dialogs_.openProgram ? dialogs_.openProgram(QStringLiteral("Choose a program")) : QString();
    if (path.isEmpty()) {
        return;
    }
    const QFileInfo chosen(path);
    if (!chosen.isFile() || !chosen.isExecutable()) {
        dialogs_.error(QString::fromLatin1(kNotAProgram).arg(path));
        return;
    }
    form_->SetCommand(path);
    OnFormEdited(false);
}

// A file inside the sound folder is named relative to it.
QString TriggerEditor::SoundFileFieldFor(const QString& path) const {
    const QString folder = SoundFolder();
    const QString prefix = folder + QLatin1Char('/');
    if (!folder.isEmpty() && path.startsWith(prefix)) {
        return path.mid(prefix.size());
    }
    return path;
}

// The text between the last "/" and ".wav" (or ".WAV").
QString TriggerEditor::NameFromSoundFile(const QString& path) {
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    qsizetype suffix = name.indexOf(QStringLiteral(".wav"));
    if (suffix < 0) {
        suffix = name.indexOf(QStringLiteral(".WAV"));
    }
    return suffix >= 0 ? name.left(suffix) : name;
}

void TriggerEditor::SetStartingValues(const QString& soundFile, const TriggerTime* duration) {
    if (!soundFile.isEmpty()) {
        form_->SetKind(TriggerKind::Sound);
        form_->SetSoundFile(SoundFileFieldFor(soundFile), NameFromSoundFile(soundFile));
    }
    if (duration != nullptr) {
        form_->SetDuration(*duration);
    }
}

bool TriggerEditor::AddSoundTrigger(const QString& file, int actionIndex,
                                    const TriggerTime* duration) {
    if (file.isEmpty()) {
        return false;
    }
    SetStartingValues(file, duration);
    form_->SelectAction(actionIndex);
    const int before = list_.CountSound();
    Add();
    return list_.CountSound() > before;
}

void TriggerEditor::ClickHeader(int column) {
    if (column < 0 || column >= TriggerListModel::kColumnCount) {
        return;
    }
    int& state = sortStates_[static_cast<std::size_t>(column)];
    if (state != 0) {
        TriggerListOrder::SortByColumn(list_, column,
                                       state == 1 ? TriggerListOrder::Direction::Descending
                                                  : TriggerListOrder::Direction::Ascending);
        Rebuild();
    }
    state = (state + 1) % kSortStates;
    UpdateHeaderIcon(column);
    modified_ = true;
}

void TriggerEditor::UpdateHeaderIcon(int column) {
    model_->SetHeaderIcon(
        column,
        sortIcons_[static_cast<std::size_t>(sortStates_[static_cast<std::size_t>(column)])]);
}

void TriggerEditor::MoveRow(int source, int target) {
    if (source < 0 || target < 0 || source >= model_->PositionCount() ||
        target >= model_->PositionCount() || source == target) {
        return;
    }
    const TriggerKind kind = model_->RowAt(source).kind;
    if (model_->RowAt(target).kind != kind) {
        return;
    }
    int first = 0;
    for (int slot = 0; slot < SlotOf(kind); ++slot) {
        first += list_.Count(static_cast<TriggerKind>(slot));
    }
    TriggerListOrder::MoveWithinKind(list_, kind, source - first, target - first);
    Rebuild(target);
    modified_ = true;
}

void TriggerEditor::SetGroupView(bool on) {
    if (groupViewAction_->isChecked() != on) {
        groupViewAction_->setChecked(on);  // comes back here through toggled
        return;
    }
    if (model_->GroupView() == on) {
        return;
    }
    const std::vector<int> selected = SelectedRows();
    model_->SetGroupView(on);
    Rebuild(selected.empty() ? -1 : selected.front());
}

bool TriggerEditor::GroupView() const {
    return model_->GroupView();
}

// --- Engine and file ------------------------------------------------------------------------

void TriggerEditor::Commit() {
    HandOver();
    modified_ = true;
    SaveWithRotation();
}

void TriggerEditor::HandOver() {
    if (engine_.takeOver) {
        engine_.takeOver(list_);
    }
}

void TriggerEditor::CancelRunnersOf(std::uint32_t serialId) {
    if (engine_.cancelRunnersOf) {
        engine_.cancelRunnersOf(serialId);
    }
}

bool TriggerEditor::SaveWithRotation() {
    const std::string path = ListPath();
    if (path.empty()) {
        return false;
    }
    const int saved =
        writer_.saveWithBackups ? writer_.saveWithBackups(list_, path) : store_.Save(list_);
    if (saved != TriggerListFile::kOk) {
        dialogs_.error(QString::fromLatin1(kSaveFailed));
        return false;
    }
    modified_ = false;
    return true;
}

void TriggerEditor::SaveIfModified() {
    if (modified_) {
        SaveWithRotation();
    }
}

// --- Column widths --------------------------------------------------------------------------

int TriggerEditor::DefaultColumnWidth(int column) const {
    return view_->fontMetrics().horizontalAdvance(QLatin1Char('m')) *
           kDefaultColumnEms[static_cast<std::size_t>(column)];
}

std::array<int, 3> TriggerEditor::ColumnWidths() const {
    std::array<int, 3> widths{};
    for (int column = 0; column < TriggerListModel::kColumnCount; ++column) {
        widths[static_cast<std::size_t>(column)] = view_->header()->sectionSize(column);
    }
    return widths;
}

void TriggerEditor::SetColumnWidths(const std::array<int, 3>& widths) {
    for (int column = 0; column < TriggerListModel::kColumnCount; ++column) {
        const int width = widths[static_cast<std::size_t>(column)];
        view_->header()->resizeSection(column, width >= 1 ? width : DefaultColumnWidth(column));
    }
}

}  // namespace hushwell
