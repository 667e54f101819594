#include "ui/LogPageFeed.h"

#include <QMetaObject>
#include <cmath>
#include <vector>

#include "analysis/LevelMeter.h"

namespace hushwell {

namespace {

constexpr int kScoreDecimals = 4;  // as the scan tool prints scores
constexpr double kPercent = 100.0;

}  // namespace

LogPageFeed::LogPageFeed(const Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

LogPageFeed::~LogPageFeed() = default;

void LogPageFeed::OnFiring(const Firing& firing) {
    LogPageEntry entry{clock_.Now(), QString::fromStdString(firing.triggerName), WhyText(firing)};
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

QString LogPageFeed::WhyText(const Firing& firing) {
    switch (firing.kind) {
        case TriggerKind::Sound: {
            QString text = QStringLiteral("score %1 over threshold %2")
                               .arg(firing.score, 0, 'f', kScoreDecimals)
                               .arg(firing.threshold, 0, 'f', kScoreDecimals);
            if (firing.verified) {
                text += firing.agreement < 0.0f
                            ? QStringLiteral(", no tonal peaks to verify")
                            : QStringLiteral(", %1 % of its tonal peaks found")
                                  .arg(std::lround(firing.agreement * kPercent));
            }
            return text;
        }
        case TriggerKind::Level:
            return QStringLiteral("level %1 % over %2 %")
                .arg(firing.score * kPercent / LevelMeter::kFullScale, 0, 'f', 1)
                .arg(firing.threshold * kPercent / LevelMeter::kFullScale, 0, 'f', 1);
        case TriggerKind::Time:
        case TriggerKind::Other:
            break;
    }
    return {};
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
