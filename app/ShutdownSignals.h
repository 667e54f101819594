#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace hushwell {

// Brings SIGTERM, SIGINT and SIGHUP into the Qt event loop: the handlers only write the
// signal's number into a pipe, whose reading end wakes the loop and emits Requested.
// One instance per process; constructed and used on the main thread.
class ShutdownSignals final : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    // A shutdown signal arrived; emitted on the main thread.
    void Requested(int signalNumber);

private:
    void OnReadable();

    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace hushwell
