#include "ui/WaveformAxes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hushwell {

namespace {

// Tick values are whole multiples of the step; this factor keeps values such as 0.3 / 0.1
// from truncating to the multiple below.
constexpr double kTruncationNudge = 1.0001;
// Closer to a range end than this counts as lying on it.
constexpr double kValueTolerance = 1e-6;
// No axis ever needs more ticks than this; a bigger count means a degenerate range.
constexpr long long kMaxTicks = 1000;

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kLongestMillisecondSpan = 1.5;  // seconds
constexpr double kLongestTimedSpan = 90.0;       // seconds

struct StepRow {
    double below;
    int step;
};

// Major steps by span, in the unit of the span.
constexpr StepRow kMillisecondSteps[] = {{3, 1},    {6, 1},    {15, 2},    {30, 5},    {60, 10},
                                         {150, 20}, {300, 50}, {600, 100}, {1500, 200}};
constexpr StepRow kSecondSteps[] = {{5, 1}, {10, 2}, {16, 2}, {30, 5}, {60, 10}, {90, 20}};

template <std::size_t N>
int StepFor(const StepRow (&rows)[N], double span) {
    for (const StepRow& row : rows) {
        if (span < row.below) {
            return row.step;
        }
    }
    return rows[N - 1].step;
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char text[64];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// Decimals a label in seconds needs to tell ticks a step of stepMs apart.
int DecimalsForStep(int stepMs) {
    if (stepMs % 100 == 0) {
        return 1;
    }
    return stepMs % 10 == 0 ? 2 : 3;
}

// Decimals the view's span asks for.
int DecimalsForSpan(double spanMs) {
    if (spanMs < 10) {
        return 3;
    }
    return spanMs < 100 ? 2 : 1;
}

std::string MillisecondLabel(long long t, int decimals) {
    const long long whole = t / 1000;
    const long long fraction = t % 1000;
    switch (decimals) {
        case 3:
            return Format("%lld.%03lld", whole, fraction);
        case 2:
            return Format("%lld.%02lld", whole, fraction / 10);
        default:
            return Format("%lld.%lld", whole, fraction / 100);
    }
}

double UnitSeconds(TimeUnit unit) {
    return unit == TimeUnit::Milliseconds ? 1.0 / kMillisecondsPerSecond : 1.0;
}

}  // namespace

double AmplitudeStep(double m) {
    constexpr StepRow kRows[] = {{0.02, 1}, {0.05, 2}, {0.1, 5}, {0.2, 10}, {0.5, 20}, {1.0, 50}};
    for (const StepRow& row : kRows) {
        if (m < row.below) {
            return row.step / 100.0;
        }
    }
    return 1.0;
}

std::string AmplitudeLabel(double value) {
    const double magnitude = std::fabs(value);
    if (magnitude < kValueTolerance) {
        return "0 ";
    }
    const char* sign = value < 0 ? "-" : "";
    if (magnitude < 0.1) {
        return Format("%s.0%1d ", sign, static_cast<int>(magnitude * 100 * kTruncationNudge));
    }
    if (magnitude < 1.0) {
        return Format("%s0.%1d ", sign, static_cast<int>(magnitude * 10 * kTruncationNudge));
    }
    return Format("%d ", static_cast<int>(value));
}

std::vector<AmplitudeTick> AmplitudeTicks(double yMin, double yMax) {
    std::vector<AmplitudeTick> ticks;
    if (!std::isfinite(yMin) || !std::isfinite(yMax) || !(yMin < yMax)) {
        return ticks;
    }
    const double step = AmplitudeStep(std::max(std::fabs(yMin), std::fabs(yMax)));
    const auto first = static_cast<long long>(yMin / step * kTruncationNudge);
    for (long long k = first; k < first + kMaxTicks; ++k) {
        const double value = static_cast<double>(k) * step;
        if (value > yMax + kValueTolerance) {
            break;
        }
        if (value < yMin - kValueTolerance) {
            continue;
        }
        const bool atEnd =
            std::fabs(value - yMin) < kValueTolerance || std::fabs(value - yMax) < kValueTolerance;
        ticks.push_back({value, AmplitudeLabel(value), !atEnd});
    }
    return ticks;
}

TimeScale ChooseTimeScale(double spanSeconds) {
    if (!(spanSeconds > 0.0) || spanSeconds >= kLongestTimedSpan) {
        return {};
    }
    if (spanSeconds < kLongestMillisecondSpan) {
        const double span = spanSeconds * kMillisecondsPerSecond;
        return {TimeUnit::Milliseconds, StepFor(kMillisecondSteps, span), span};
    }
    return {TimeUnit::Seconds, StepFor(kSecondSteps, spanSeconds), spanSeconds};
}

std::string TimeLabel(const TimeScale& scale, long long t, double viewEndSeconds) {
    if (t == 0) {
        return "0";
    }
    if (scale.unit == TimeUnit::Milliseconds) {
        return MillisecondLabel(
            t, std::max(DecimalsForSpan(scale.span), DecimalsForStep(scale.major)));
    }
    if (viewEndSeconds >= 60.0) {
        return Format("%02lld:%02lld", t / 60, t % 60);
    }
    return Format("%lld", t % 60);
}

std::vector<TimeTick> TimeTicks(const TimeScale& scale, double firstSecond, double lastSecond) {
    std::vector<TimeTick> ticks;
    if (scale.unit == TimeUnit::None || scale.major <= 0 || !(firstSecond <= lastSecond)) {
        return ticks;
    }
    // Ticks are counted in minor steps (half a major step); even counts are major ticks.
    const double minorSeconds = scale.major * UnitSeconds(scale.unit) / 2.0;
    const auto first = static_cast<long long>(std::ceil(firstSecond / minorSeconds - 1e-9));
    const auto last = static_cast<long long>(std::floor(lastSecond / minorSeconds + 1e-9));
    for (long long k = first; k <= last && k < first + kMaxTicks; ++k) {
        TimeTick tick;
        tick.seconds = static_cast<double>(k) * minorSeconds;
        tick.major = k % 2 == 0;
        if (tick.major) {
            tick.label = TimeLabel(scale, k / 2 * scale.major, lastSecond);
        }
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

}  // namespace hushwell
