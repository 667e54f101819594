#include "ui/WaveformSamples.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <span>
#include <type_traits>

namespace hushwell {

namespace {

constexpr double kRangeHeadroom = 1.16;
constexpr double kSilentRange = 0.0001;
constexpr float kPcm16FullScale = 32768.0f;
constexpr float kPcm32FullScale = 2147483648.0f;

// The sound's samples as one of the three drawable kinds, with what turns one into
// full-scale units. Float samples are stored as their bit patterns.
struct Pcm16Samples {
    std::span<const std::int16_t> samples;
    static float Unit(std::int16_t s) { return static_cast<float>(s) / kPcm16FullScale; }
};
struct Pcm32Samples {
    std::span<const std::uint32_t> samples;
    static float Unit(std::uint32_t s) {
        return static_cast<float>(static_cast<std::int32_t>(s)) / kPcm32FullScale;
    }
};
struct FloatSamples {
    std::span<const std::uint32_t> samples;
    static float Unit(std::uint32_t s) {
        const float value = std::bit_cast<float>(s);
        return std::isfinite(value) ? value : 0.0f;
    }
};

int Channels(const WaveData& sound) {
    return sound.Format().channels;
}

// Calls visit with the sound's samples in their drawable kind; false when there is none.
template <typename Visit>
bool VisitSamples(const WaveData& sound, Visit&& visit) {
    if (Channels(sound) <= 0) {
        return false;
    }
    switch (sound.Kind()) {
        case SampleKind::Pcm16:
            visit(Pcm16Samples{sound.Samples16()});
            return true;
        case SampleKind::Pcm32:
            visit(Pcm32Samples{sound.Samples32()});
            return true;
        case SampleKind::IeeeFloat:
            visit(FloatSamples{sound.Samples32()});
            return true;
        default:
            return false;
    }
}

// The view moved inside the frames the sound holds.
FrameSpan ClampedView(const WaveData& sound, const FrameSpan& view) {
    const std::int64_t frames = DrawableFrames(sound);
    return {std::clamp<std::int64_t>(view.first, 0, std::max<std::int64_t>(frames - 1, 0)),
            std::min(view.last, frames - 1)};
}

// Min and max of the first channel over frames [from, to), in the samples' own type so the
// scan over many frames stays a plain integer loop.
template <typename Kind>
ColumnExtent ExtentOf(const Kind& kind, std::size_t stride, std::int64_t from, std::int64_t to) {
    using Sample = typename decltype(Kind::samples)::value_type;
    const Sample* p = kind.samples.data() + static_cast<std::size_t>(from) * stride;
    if constexpr (std::is_same_v<Kind, FloatSamples>) {
        float lo = std::numeric_limits<float>::infinity();
        float hi = -lo;
        for (std::int64_t f = from; f < to; ++f, p += stride) {
            const float v = Kind::Unit(*p);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        return {lo, hi};
    } else {
        using Signed = std::make_signed_t<Sample>;
        Signed lo = std::numeric_limits<Signed>::max();
        Signed hi = std::numeric_limits<Signed>::min();
        for (std::int64_t f = from; f < to; ++f, p += stride) {
            const auto v = static_cast<Signed>(*p);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        return {Kind::Unit(static_cast<Sample>(lo)), Kind::Unit(static_cast<Sample>(hi))};
    }
}

}  // namespace

std::int64_t DrawableFrames(const WaveData& sound) {
    std::int64_t frames = 0;
    VisitSamples(sound, [&](const auto& kind) {
        const auto held = std::min<std::int64_t>(static_cast<std::int64_t>(kind.samples.size()),
                                                 std::max(sound.SampleCount(), 0));
        frames = held / Channels(sound);
    });
    return frames;
}

AmplitudeRange AmplitudeRangeOf(const WaveData& sound) {
    double r = 1.0;
    if (DrawableFrames(sound) > 0) {
        VisitSamples(sound, [&](const auto& kind) {
            const ColumnExtent all =
                ExtentOf(kind, static_cast<std::size_t>(Channels(sound)), 0, DrawableFrames(sound));
            const double peak = std::max(std::fabs(all.min), std::fabs(all.max));
            r = std::min(1.0, peak * kRangeHeadroom);
        });
        if (r <= kSilentRange) {
            r = 1.0;
        }
    }
    return {-r, r};
}

std::vector<float> FrameValues(const WaveData& sound, const FrameSpan& view) {
    std::vector<float> values;
    const FrameSpan shown = ClampedView(sound, view);
    if (shown.Count() <= 0) {
        return values;
    }
    const auto stride = static_cast<std::size_t>(Channels(sound));
    values.reserve(static_cast<std::size_t>(shown.Count()));
    VisitSamples(sound, [&](const auto& kind) {
        for (std::int64_t f = shown.first; f <= shown.last; ++f) {
            values.push_back(kind.Unit(kind.samples[static_cast<std::size_t>(f) * stride]));
        }
    });
    return values;
}

std::vector<ColumnExtent> ColumnExtents(const WaveData& sound, const FrameSpan& view, int columns) {
    std::vector<ColumnExtent> extents;
    const FrameSpan shown = ClampedView(sound, view);
    const std::int64_t n = shown.Count();
    if (n <= 0 || columns <= 0) {
        return extents;
    }
    const auto stride = static_cast<std::size_t>(Channels(sound));
    extents.reserve(static_cast<std::size_t>(columns));
    VisitSamples(sound, [&](const auto& kind) {
        for (std::int64_t c = 0; c < columns; ++c) {
            const std::int64_t from = std::min(c * n / columns, n - 1);
            const std::int64_t to = std::clamp((c + 1) * n / columns, from + 1, n);
            extents.push_back(ExtentOf(kind, stride, shown.first + from, shown.first + to));
        }
    });
    return extents;
}

}  // namespace hushwell
