#pragma once

#include <QDialog>

namespace hushwell {

// The question asked before an opened or dropped trigger list is taken in: "Replace" (the
// default button) or "Merge". Closing it any other way (Escape, the close box) counts as
// "Merge", so nothing is thrown away by accident.
//
// User-interface thread only.
class ReplaceOrMergeDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kReplace = 0;
    static constexpr int kMerge = 1;

    explicit ReplaceOrMergeDialog(QWidget* parent = nullptr);

    // Shows the dialog modally: kReplace or kMerge.
    int Ask();
};

}  // namespace hushwell
