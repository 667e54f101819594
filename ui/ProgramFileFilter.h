#pragma once

#include <QSortFilterProxyModel>

class QFileDialog;

namespace hushwell {

// The program chooser's file list: with "Programs" chosen (the first, default choice) it shows
// folders and the files the user may run; with "All Files (*)" every file.
//
// User-interface thread only.
class ProgramFileFilter final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    static constexpr const char* kProgramsFilter = "Programs (*)";
    static constexpr const char* kAllFilesFilter = "All Files (*)";

    explicit ProgramFileFilter(QObject* parent = nullptr);

    // Makes the dialog a program chooser: its two choices and this filter on its list (the
    // dialog's own, not the desktop's, which could not filter by the executable bit).
    static void Install(QFileDialog& dialog);

    void SetProgramsOnly(bool on);
    bool ProgramsOnly() const { return programsOnly_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    bool programsOnly_ = true;
};

}  // namespace hushwell
