#include "tools/scan/ScanReport.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "analysis/LevelMeter.h"
#include "base/Clock.h"

namespace hushwell::scan {

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kPercentPerFullScale = 100.0;

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double Percent(float level) {
    return level * kPercentPerFullScale / LevelMeter::kFullScale;
}

}  // namespace

ScanReport::ScanReport(std::ostream& out, const Clock& clock, std::uint64_t startTick,
                       std::vector<std::string> referenceNames, std::vector<float> thresholds)
    : out_(out),
      clock_(clock),
      startTick_(startTick),
      referenceNames_(std::move(referenceNames)),
      thresholds_(std::move(thresholds)) {}

void ScanReport::OnFiring(const Firing& firing) {
    ++firings_;
    const double seconds = static_cast<double>(firing.tick - startTick_) / kMsPerSecond;
    out_ << Fixed(seconds, 3) << '\t' << firing.triggerName << '\t';
    if (firing.kind == TriggerKind::Level) {
        out_ << "level\t" << Fixed(Percent(firing.score), 2) << '\t'
             << Fixed(Percent(firing.threshold), 2) << '\n';
        return;
    }
    const auto reference = static_cast<std::size_t>(firing.reference);
    out_ << ReferenceName(reference) << '\t' << Fixed(firing.score, 4) << '\t'
         << Fixed(firing.threshold, 4);
    if (firing.verified) {
        out_ << '\t'
             << (firing.agreement < 0.0f ? std::string("no peaks")
                                         : "peaks " + Fixed(firing.agreement, 2));
        if (firing.bedScore >= 0.0f) {
            out_ << ", bed " << Fixed(firing.bedScore, 2);
        }
    }
    out_ << '\n';
}

void ScanReport::OnRejected(const DetectionStep::Rejection& rejection) {
    // One line for a run of rejections of the same reference, less than kRunGapMs apart.
    constexpr std::uint64_t kRunGapMs = 100;
    if (lastRejection_.size() <= rejection.reference) {
        lastRejection_.resize(rejection.reference + 1, 0);
    }
    const std::uint64_t tick = clock_.TickMs();
    std::uint64_t& last = lastRejection_[rejection.reference];
    const bool sameRun = last != 0 && tick <= last + kRunGapMs;
    last = tick;
    if (sameRun) {
        return;
    }
    const double seconds = static_cast<double>(tick - startTick_) / kMsPerSecond;
    out_ << "# rejected " << Fixed(seconds, 3) << '\t' << ReferenceName(rejection.reference) << '\t'
         << Fixed(rejection.score, 4) << '\t' << Fixed(rejection.threshold, 4) << "\tpeaks "
         << Fixed(rejection.agreement, 2) << " < " << Fixed(DetectionStep::kAgreementNeeded, 2);
    if (rejection.bedScore >= 0.0f) {
        out_ << ", bed " << Fixed(rejection.bedScore, 2);
    }
    out_ << '\n';
}

const std::string& ScanReport::ReferenceName(std::size_t reference) const {
    static const std::string kUnknown = "-";
    return reference < referenceNames_.size() ? referenceNames_[reference] : kUnknown;
}

void ScanReport::OnPassScores(std::size_t, std::span<const float> scores) {
    if (clock_.TickMs() < startTick_) {
        return;  // the silence heard before the recording
    }
    const auto second =
        static_cast<std::int64_t>(static_cast<double>(clock_.TickMs() - startTick_) / kMsPerSecond);
    if (second != second_) {
        WriteSecondScores();
        second_ = second;
        bestScores_.assign(scores.size(), 0.0f);
    }
    const std::size_t count = std::min(scores.size(), bestScores_.size());
    for (std::size_t r = 0; r < count; ++r) {
        bestScores_[r] = std::max(bestScores_[r], scores[r]);
    }
}

void ScanReport::Finish() {
    WriteSecondScores();
    second_ = -1;
}

void ScanReport::WriteSecondScores() {
    if (second_ < 0) {
        return;
    }
    for (std::size_t r = 0; r < bestScores_.size() && r < referenceNames_.size(); ++r) {
        out_ << "# scores " << second_ << '\t' << referenceNames_[r] << '\t'
             << Fixed(bestScores_[r], 4) << '\t'
             << Fixed(r < thresholds_.size() ? thresholds_[r] : 0.0f, 4) << '\n';
    }
}

}  // namespace hushwell::scan
