#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/ProgramPaths.h"
#include "persistence/TriggerListStore.h"
#include "triggers/TriggerList.h"

class QMenu;
class QAction;
class QToolButton;
class QTreeView;

namespace hushwell {

class Clock;
class DetectionEngine;
class EngineListHandOff;
class ScoreBoard;
class TriggerMeter;
class TriggerForm;
class TriggerListModel;

// The "Controls" page of the settings window: the trigger list editor. A list of every
// active trigger (optionally grouped by kind, with a live meter of each sound trigger's score), a
// form showing one trigger, and the commands Add, Apply, Delete, OPEN (replace or merge), SAVE
// (save as), dropping list files on the list, dragging a row within its kind, and sorting by a
// column.
//
// The page works on its own copy of the trigger list. After each structural change (add,
// apply, delete, open, drop) it hands the copy to the detection engine and saves the list
// file with backup rotation; sorting and dragging only mark the list unsaved, and the
// settings window saves it when it closes (SaveIfModified).
//
// The unsaved flag is set by every accepted change and cleared by a successful save of the
// list file. A failed save keeps the working list and the file on disk as they were, keeps
// the flag set (so closing the window tries again) and says "Failed to save the control
// list". Messages, choosers and the replace-or-merge question go through Dialogs, so tests
// answer them without a modal window.
//
// User-interface thread only.
class TriggerEditor final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxDropPathChars = 521;
    static constexpr int kSortStates = 3;
    // Default column widths, in widths of the letter "m".
    static constexpr std::array<int, 3> kDefaultColumnEms = {8, 7, 6};

    // Everything the page asks the user, replaceable by tests.
    struct Dialogs {
        std::function<void(const QString& message)> error;
        // ReplaceOrMergeDialog::kReplace or kMerge.
        std::function<int()> replaceOrMerge;
        // Path of an existing file chosen to open, or empty: (caption, folder, filter).
        std::function<QString(const QString&, const QString&, const QString&)> openFile;
        // Path chosen to save to (the chooser asks before overwriting), or empty.
        std::function<QString(const QString&, const QString&, const QString&)> saveFile;
        // Path of a program chosen to run (ProgramFileFilter's chooser), or empty: (caption).
        std::function<QString(const QString&)> openProgram;
    };

    // How the list is written: plain (save as) and with the backup rotation. Both return 0
    // on success (TriggerListFile's codes); tests inject failures here. Without a rotating
    // writer, the program's list file is written through its TriggerListStore.
    struct Writer {
        std::function<int(const TriggerList&, const std::string&)> save;
        std::function<int(const TriggerList&, const std::string&)> saveWithBackups;
    };

    // What the page needs of the detection engine: take over a copy of the list (replace the
    // live list, rebuild the references) and cancel the running controls of one trigger.
    // Either may be empty (no engine, as in tests of the page alone).
    struct EngineLink {
        std::function<void(const TriggerList&)> takeOver;
        std::function<void(std::uint32_t serialId)> cancelRunnersOf;
    };

    explicit TriggerEditor(QWidget* parent = nullptr);
    ~TriggerEditor() override;

    // The program's paths: the list is saved to their trigger list file, and their sound
    // folder is where sounds are looked for unless the list's base folder is absolute. Without
    // a data folder nothing is saved with rotation.
    void SetPaths(const ProgramPaths& paths);
    void SetDialogs(Dialogs dialogs);
    void SetWriter(Writer writer);
    void SetEngineLink(EngineLink link);
    // Copies the engine's live list into the working list and hands every later change to
    // the engine through an EngineListHandOff (queued, coalesced). The engine must outlive
    // the page.
    void AttachEngine(DetectionEngine& engine);
    // The score board the list's meter reads while the page is shown, and the clock of its
    // ticks (AttachEngine attaches the engine's with the system clock). Both must outlive the
    // page.
    void AttachMeter(ScoreBoard& board, const Clock& clock);
    TriggerMeter& Meter() { return *meter_; }
    // Replaces the working list by a copy of a list (the live list at start-up) and shows it.
    void CopyList(const TriggerList& list);

    // --- Entry points for the capture page ---
    // Starting values of a new trigger, handed over when the page is entered after the
    // capture page produced them: the sound file (kind Sound; name from the file) and/or the
    // duration. An empty file or a null duration leaves that field as it is.
    void SetStartingValues(const QString& soundFile, const TriggerTime* duration);
    // Registers a recorded sound as a new sound trigger, as the capture page's register
    // command does: the form is set to kind Sound with the file (the sound-folder prefix
    // removed, the name taken from the file), the action of index `actionIndex` in
    // TriggerForm::ActionTexts() (the configuration's default action; out of range keeps the
    // current one) and, when given, the duration; then Add runs. Returns true when a row was
    // added (false for a duplicate, a full kind or an empty file name).
    bool AddSoundTrigger(const QString& file, int actionIndex,
                         const TriggerTime* duration = nullptr);

    // --- Commands (the buttons, menus and drops call these) ---
    void Add();
    void Apply();
    void DeleteSelected();
    void Open();
    void SaveAs();
    // Dropped list files: each readable one merged into one collecting list; unreadable ones
    // and paths over kMaxDropPathChars are skipped silently. Asks replace or merge first.
    void DropFiles(const QStringList& paths);
    void ChooseSoundFile();
    void ChooseCommand();
    // A click on a column header: sorts by the column's current state (1 descending,
    // 2 ascending, 0 unchanged), then advances the state.
    void ClickHeader(int column);
    // Moves the record of row `source` to the place of row `target` when both are of the
    // same kind; rows of different kinds stay.
    void MoveRow(int source, int target);
    void SetGroupView(bool on);
    bool GroupView() const;

    // Saves with rotation when there are unsaved changes (the settings window's close).
    void SaveIfModified();
    bool IsModified() const { return modified_; }
    // The tray menu's "Tools & Settings" clears the unsaved-changes flag. Changes that are not
    // on disk yet (a sort, a drag) are saved first rather than forgotten, so the flag is only
    // cleared when the file holds the working list; a failed save leaves it set.
    void ClearUnsavedFlag() { SaveIfModified(); }

    std::array<int, 3> ColumnWidths() const;
    // A width below 1 gives the column its default width.
    void SetColumnWidths(const std::array<int, 3>& widths);

    // Selection by all-kinds row position; -1 for no row.
    void SelectRows(const std::vector<int>& positions);
    std::vector<int> SelectedRows() const;
    // The serial id of the one sound trigger selected; nothing when no row, several rows or
    // another kind is selected.
    std::optional<std::uint32_t> SelectedSoundSerial() const;
    int SortState(int column) const { return sortStates_[static_cast<std::size_t>(column)]; }

    const TriggerList& WorkingList() const { return list_; }
    TriggerForm& Form() { return *form_; }
    TriggerListModel& Model() { return *model_; }
    QTreeView& List() { return *view_; }
    QToolButton& AddButton() { return *add_; }
    QToolButton& ApplyButton() { return *apply_; }
    QToolButton& DeleteButton() { return *delete_; }
    QAction& GroupViewAction() { return *groupViewAction_; }

    // The list file of the application data folder ("" without one).
    std::string ListPath() const;
    // Where the choosers start: the base folder when it is absolute, else the application's
    // sound folder.
    QString SoundFolder() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The meter runs only while the page is shown.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildControls();
    void BuildList();
    void BuildButtons();
    void ConnectControls();
    void InstallEnterAsTab();
    void DefaultDialogs();

    // Rebuilds the rows from the working list; selects and focuses `select` (or nothing).
    void Rebuild(int select = -1);
    void ShowSelectedRecord();
    void OnSelectionChanged();
    void OnFormEdited(bool triggerTime);
    void SetButtons(bool add, bool apply, bool del);
    // A copy of the record of a row position, or false when there is none.
    bool RecordAt(int position, Trigger& record, TriggerKind& kind, int& index) const;
    // After a structural change: hand over, mark unsaved and save with rotation.
    void Commit();
    void HandOver();
    void CancelRunnersOf(std::uint32_t serialId);
    bool SaveWithRotation();
    QString SoundFileFieldFor(const QString& path) const;
    static QString NameFromSoundFile(const QString& path);
    void UpdateHeaderIcon(int column);
    int DefaultColumnWidth(int column) const;

    TriggerList list_;
    ProgramPaths paths_;
    TriggerListStore store_;  // the program's list file; none without a data folder
    Dialogs dialogs_;
    Writer writer_;
    EngineLink engine_;
    std::unique_ptr<EngineListHandOff> handOff_;
    bool modified_ = false;
    // Set while the page rebuilds the list itself: selection changes then load no record.
    bool rebuilding_ = false;
    int loadedRow_ = -1;
    std::array<int, 3> sortStates_{};
    std::array<QIcon, kSortStates> sortIcons_;

    TriggerListModel* model_ = nullptr;
    TriggerMeter* meter_ = nullptr;
    QTreeView* view_ = nullptr;
    QMenu* listMenu_ = nullptr;
    QAction* groupViewAction_ = nullptr;
    TriggerForm* form_ = nullptr;
    QToolButton* open_ = nullptr;
    QToolButton* save_ = nullptr;
    QToolButton* add_ = nullptr;
    QToolButton* delete_ = nullptr;
    QToolButton* apply_ = nullptr;
};

}  // namespace hushwell
