#include "ui/EngineListHandOff.h"

#include <QTimer>

#include "detection/DetectionEngine.h"
#include "triggers/TriggerList.h"

namespace hushwell {

EngineListHandOff::EngineListHandOff(DetectionEngine& engine, QObject* parent)
    : QObject(parent), engine_(engine) {}

// A copy still pending is dropped: at exit the engine may already be gone, and the list file
// holds the edits anyway.
EngineListHandOff::~EngineListHandOff() = default;

void EngineListHandOff::Submit(const TriggerList& list) {
    const bool scheduled = pending_ != nullptr;
    if (!scheduled) {
        pending_ = std::make_unique<TriggerList>();
    }
    {
        std::lock_guard guard(list.Mutex());
        pending_->SetLimits(list.Limit(TriggerKind::Sound), list.Limit(TriggerKind::Time),
                            list.Limit(TriggerKind::Level));
        pending_->SetBaseDir(list.BaseDir());
    }
    pending_->Assign(list);
    if (!scheduled) {
        QTimer::singleShot(0, this, &EngineListHandOff::Flush);
    }
}

void EngineListHandOff::CancelRunnersOf(std::uint32_t serialId) {
    engine_.CancelRunnersOf(serialId);
}

void EngineListHandOff::Flush() {
    if (!pending_) {
        return;
    }
    const std::unique_ptr<TriggerList> list = std::move(pending_);
    engine_.RebuildReferences(list.get());
}

}  // namespace hushwell
