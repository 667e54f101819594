#pragma once

#include <QObject>
#include <cstdint>
#include <memory>

namespace hushwell {

class TriggerList;
class DetectionEngine;

// Hands the trigger list editor's working list to the detection engine. Every structural
// edit submits a copy; the engine takes it over (list replaced, references rebuilt,
// detection restarted unless paused) from the event loop, once for a burst of edits, so
// an edit returns to the user at once and the engine is only ever driven from its control
// thread. Running controls of a changed or deleted trigger are cancelled at once.
//
// User-interface thread only (the engine's control thread). The engine must outlive this.
class EngineListHandOff final : public QObject {
    Q_OBJECT
public:
    explicit EngineListHandOff(DetectionEngine& engine, QObject* parent = nullptr);
    ~EngineListHandOff() override;

    // Keeps a copy of the list; the engine takes over the latest copy from the event loop.
    void Submit(const TriggerList& list);
    // Destroys the running controls of one trigger, undoing them.
    void CancelRunnersOf(std::uint32_t serialId);
    // Hands over a pending copy now. A copy still pending when this is destroyed is dropped.
    void Flush();
    bool HasPending() const { return pending_ != nullptr; }

private:
    DetectionEngine& engine_;
    std::unique_ptr<TriggerList> pending_;
};

}  // namespace hushwell
