#include "ui/ProgramFileFilter.h"

#include <QFileDialog>
#include <QFileSystemModel>

namespace hushwell {

ProgramFileFilter::ProgramFileFilter(QObject* parent) : QSortFilterProxyModel(parent) {}

void ProgramFileFilter::Install(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {QString::fromLatin1(kProgramsFilter), QString::fromLatin1(kAllFilesFilter)});
    auto* filter = new ProgramFileFilter(&dialog);
    dialog.setProxyModel(filter);
    QObject::connect(&dialog, &QFileDialog::filterSelected, filter, [filter](const QString& name) {
        filter->SetProgramsOnly(name == QLatin1String(kProgramsFilter));
    });
}

void ProgramFileFilter::SetProgramsOnly(bool on) {
    if (on != programsOnly_) {
        programsOnly_ = on;
        invalidateFilter();
    }
}

bool ProgramFileFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (!programsOnly_) {
        return true;
    }
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr) {
        return true;
    }
    const QFileInfo info = files->fileInfo(files->index(sourceRow, 0, sourceParent));
    return info.isDir() || info.isExecutable();
}

}  // namespace hushwell
