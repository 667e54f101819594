#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>

namespace hushwell {

// The answer of one desktop portal request (org.freedesktop.portal.Request "Response").
struct PortalResponse {
    static constexpr unsigned int kSuccess = 0;

    unsigned int code = kSuccess;
    // The results; a "shortcuts" list is held as a PortalShortcutList.
    QVariantMap results;
};

// Waits for the Response of one request at a time without running the caller's event loop:
// the object lives on a thread of its own (the creator moves it there), where Qt D-Bus
// delivers the signal, and the caller blocks on a condition until it arrives or the time is
// up. Nothing else of the program runs while the caller waits. A response that comes after
// the wait (a desktop that asks the user first) can still be taken: it is then reported by
// Late, which reaches the caller's thread through its event loop.
//
// Threads: Expect, Wait and Forget on the caller's thread; OnResponse on the object's own
// thread, from which Late is emitted.
class PortalResponseWaiter final : public QObject {
    Q_OBJECT
public:
    explicit PortalResponseWaiter(const QDBusConnection& bus);

    // Starts listening for the Response of the request object at path; call before sending
    // the request, so an early answer is not missed.
    bool Expect(const QString& path);
    // The response, or nothing when none came within the timeout. Listening stops, unless
    // keepListening: then a later response is reported by Late.
    std::optional<PortalResponse> Wait(std::chrono::milliseconds timeout,
                                       bool keepListening = false);
    // Stops listening for the late response of path; false when none was awaited.
    bool Forget(const QString& path);
    // Stops listening for every late response.
    void ForgetAll();

signals:
    // The response of a request whose wait ended without it.
    void Late(const QString& path, uint code, const QVariantMap& results);

private slots:
    void OnResponse(const QDBusMessage& message);

private:
    bool Listen(const QString& path, bool on);

    QDBusConnection bus_;

    // ---- shared between the caller and the object's thread, guarded by mutex_ ----
    std::mutex mutex_;
    std::condition_variable arrived_;
    QString path_;
    std::optional<PortalResponse> response_;
    std::set<QString> late_;  // requests whose response is still taken
};

}  // namespace hushwell
