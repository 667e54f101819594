#include "ui/LogPageFeed.h"

#include <QMetaObject>
#include <vector>

namespace hushwell {

LogPageFeed::LogPageFeed(const Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

LogPageFeed::~LogPageFeed() = default;

void LogPageFeed::OnFiring(const Firing& firing) {
    LogPageEntry entry{clock_.Now(), QString::fromStdString(firing.triggerName)};
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(entry));
        if (pending_.size() > kMaxPending) {
            pending_.pop_front();
        }
        post = !drainPosted_;
        drainPosted_ = true;
    }
    if (post) {
        // Posting only queues an event; the firing thread never waits for the page.
        QMetaObject::invokeMethod(this, &LogPageFeed::Drain, Qt::QueuedConnection);
    }
}

void LogPageFeed::SetPage(LogPage* page) {
    page_ = page;
    Drain();
}

std::size_t LogPageFeed::PendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

void LogPageFeed::Drain() {
    std::vector<LogPageEntry> entries;
    {
        std::lock_guard lock(mutex_);
        drainPosted_ = false;
        if (page_.isNull()) {
            return;
        }
        entries.assign(std::make_move_iterator(pending_.begin()),
                       std::make_move_iterator(pending_.end()));
        pending_.clear();
    }
    if (!entries.empty()) {
        page_->AddLogEntries(entries);
    }
}

}  // namespace hushwell
