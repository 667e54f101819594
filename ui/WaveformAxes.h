#pragma once

#include <string>
#include <vector>

namespace hushwell {

// The steps, tick values and label texts of the waveform view's two axes. Pure functions, any
// thread; the view places what they return.

// --- Amplitude axis (full scale = 1.0) ---

// The step between amplitude ticks for the larger magnitude m of the range's two ends:
// 0.01 below 0.02, 0.02 below 0.05, 0.05 below 0.1, 0.1 below 0.2, 0.2 below 0.5, 0.5 below
// 1.0, else 1.0.
double AmplitudeStep(double m);

// "0 " for zero; ".0N " below 0.1 (hundredths), "0.N " below 1 (tenths), "N " from 1 on,
// each with a leading "-" when negative. The trailing space keeps the label off the tick.
std::string AmplitudeLabel(double value);

struct AmplitudeTick {
    double value = 0.0;
    std::string label;
    bool mark = false;  // a short mark at the plot's edge; the range's two ends get none
};

// The ticks of [yMin, yMax], bottom up, at whole multiples of the step: from the multiple
// nearest yMin towards zero, upwards while not above yMax, leaving out those below yMin.
std::vector<AmplitudeTick> AmplitudeTicks(double yMin, double yMax);

// --- Time axis ---

enum class TimeUnit { Milliseconds, Seconds, None };

// The unit and the major step (in that unit) for a view lasting spanSeconds: milliseconds
// below 1.5 s, seconds below 90 s, no time axis from 90 s on. The minor step is half the major.
struct TimeScale {
    TimeUnit unit = TimeUnit::None;
    int major = 0;
    double span = 0.0;  // the view's length in the unit
};
TimeScale ChooseTimeScale(double spanSeconds);

struct TimeTick {
    double seconds = 0.0;
    bool major = false;
    std::string label;  // major ticks only
};

// Major and minor ticks from firstSecond to lastSecond (both in seconds from the start of the
// sound), left to right. Empty when the scale has no unit.
std::vector<TimeTick> TimeTicks(const TimeScale& scale, double firstSecond, double lastSecond);

// The label of a major tick t (in the scale's unit): "0" for zero. Milliseconds are written as
// seconds with three, two or one decimals as the span is under 10 ms, under 100 ms or longer,
// but never fewer than the step needs, so neighbouring labels always differ. Seconds as
// "mm:ss" when the view ends at 60 s or later, else as plain seconds.
std::string TimeLabel(const TimeScale& scale, long long t, double viewEndSeconds);

}  // namespace hushwell
