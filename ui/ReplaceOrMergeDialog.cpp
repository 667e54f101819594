#include "ui/ReplaceOrMergeDialog.h"

#include <QHBoxLayout>
#include <QPalette>
#include <QPushButton>

namespace hushwell {

namespace {

const QColor kBackground(0x60, 0x60, 0x60);

}  // namespace

ReplaceOrMergeDialog::ReplaceOrMergeDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Replace or merge"));
    setAccessibleName(windowTitle());
    QPalette grey = palette();
    grey.setColor(QPalette::Window, kBackground);
    setPalette(grey);
    setAutoFillBackground(true);
    auto* replace = new QPushButton(QStringLiteral("Replace"), this);
    replace->setAccessibleName(QStringLiteral("Replace"));
    replace->setDefault(true);
    auto* merge = new QPushButton(QStringLiteral("Merge"), this);
    merge->setAccessibleName(QStringLiteral("Merge"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(replace);
    layout->addWidget(merge);
    connect(replace, &QPushButton::clicked, this, &QDialog::accept);
    connect(merge, &QPushButton::clicked, this, &QDialog::reject);
}

int ReplaceOrMergeDialog::Ask() {
    return exec() == QDialog::Accepted ? kReplace : kMerge;
}

}  // namespace hushwell
