#pragma once

#include <QObject>
#include <QPointer>
#include <cstddef>
#include <deque>
#include <mutex>

#include "base/Clock.h"
#include "detection/FiringSink.h"
#include "ui/LogPage.h"

namespace hushwell {

// Carries firings to the log page without ever waiting for the user-interface thread: the
// firing thread stamps the entry, puts it in a small locked queue and, when the queue was
// empty, posts one queued call; that call moves everything queued into the page at once. A
// burst of firings therefore costs the detection thread a lock and a push each, and the page
// one batch.
//
// Until the page exists (SetPage), entries wait in the queue; the newest kMaxPending are
// kept, as many as the page itself would show.
//
// Threads: OnFiring from any thread (the detection thread for sound and level triggers, the
// user-interface thread for time triggers). Everything else on the user-interface thread,
// which must run an event loop for the queued call. The engine must stop firing before the
// feed is destroyed.
class LogPageFeed final : public QObject, public FiringSink {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxPending = 10000;

    // The clock stamps each firing; it must outlive the feed.
    explicit LogPageFeed(const Clock& clock = SystemClock::Instance(), QObject* parent = nullptr);
    ~LogPageFeed() override;

    void OnFiring(const Firing& firing) override;

    // Why a firing fired, for its row's tool tip: "score 0.9312 over threshold 0.9000" (and
    // the share of tonal peaks found) for a sound trigger, the level over the trigger's level
    // in percent for a level trigger, nothing for a time trigger.
    static QString WhyText(const Firing& firing);

    // The page to fill; entries queued so far go to it at once. Null stops feeding (entries
    // wait again). The page may be destroyed while set: the feed then waits for a new one.
    void SetPage(LogPage* page);

    // Entries waiting for the page.
    std::size_t PendingCount() const;

private:
    void Drain();

    const Clock& clock_;
    QPointer<LogPage> page_;  // user-interface thread

    mutable std::mutex mutex_;
    std::deque<LogPageEntry> pending_;  // guarded by mutex_, oldest first
    bool drainPosted_ = false;          // guarded by mutex_: a queued Drain is on its way
};

}  // namespace hushwell
