#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace hushwell {

class SpectralAnalyzer;

// The figures of the telephone-band detector. Frequencies are in kHz of the 16 kHz internal
// rate; energies and levels are sums of live band features (magnitude^1.1 of the FFT bins);
// time constants count updates (one per matching pass, about 250 per second).
struct TelephoneBandConstants {
    float bandALowKHz = 2.0f;   // kHz, lower edge of the speech band
    float bandAHighKHz = 3.0f;  // kHz, upper edge of the speech band
    float bandBLowKHz = 4.2f;   // kHz, lower edge of the band a telephone line cuts away
    float bandBHighKHz = 7.9f;  // kHz, upper edge of that band
    float bandSpanKHz = 8.0f;   // kHz covered by the live bands (half the internal rate)

    float initialBandAEnergy = 0.0f;      // feature units, fast and slow band A energy at start
    float initialBandBEnergy = 50000.0f;  // feature units, fast and slow band B energy at start

    float fastFactor = 0.95f;  // per update, weight of the old value in the fast smoothing
    float slowFactor = 0.98f;  // per update, weight of the old value in the slow smoothing

    float thresholdScale = 200.0f;  // feature units per (kHz x frame sample), energy threshold
    float lowLimitScale = 10.0f;    // feature units per (kHz x frame sample), switch-off limit
    float bandScale = 0.125f;       // dimensionless, both scales are applied with it

    float fastRatioLimit = 0.05f;  // band B over band A, at most this to switch on
    float slowRatioLimit = 0.3f;   // band B over band A, at most this to stay on
    double ratioGuard = 0.0001;    // feature units added to the divisor of a ratio

    int levelFirstBand = 16;              // live band index, first band with a per-band level
    int levelBandCount = 15;              // bands, per-band levels kept (live bands 16..30)
    float smallestLevelStart = 1e20f;     // feature units, start of the smallest-level search
    float largestFastLevelStart = 0.0f;   // feature units, start of the largest fast level search
    float largestSlowLevelStart = 1e-5f;  // feature units, start of the largest slow level search
    float spreadLimit = 1000.0f;  // largest over smallest fast level, above it: not a telephone

    float initialFloor = 25600.0f;       // feature units, quiet floor of the high-band sum
    float floorGrowth = 1.00111f;        // per update, factor the floor climbs back by
    float floorCapPerFrameSample = 500;  // feature units per frame sample, the floor's ceiling
    float loudFactor = 2.0f;  // a high-band sum above this times the floor counts as loud

    std::uint32_t loudLimit = 500;   // updates, loud in a row after which the limits ease
    float fastLimitOffset = -0.02f;  // added to the fast ratio limit once loud for long
    float slowLimitOffset = -0.1f;   // added to the slow ratio limit once loud for long
};

// Tells whether the output carries telephone-band sound: energy concentrated between 2 and
// 3 kHz with little above 4.2 kHz. Updated once per matching pass from the newest live frame;
// its verdict (1.0 present, 0.0 absent) switches the controls of "telephone" targets.
//
// Owned by the detection engine, updated and read only by the detection thread; never reset.
class TelephoneBandDetector {
public:
    static constexpr int kLevelArraySize = 512;

    explicit TelephoneBandDetector(const TelephoneBandConstants& constants = {});

    // Detection thread. Reads the live analyzer's frame length, band count and features.
    float Update(const SpectralAnalyzer& liveAnalyzer);
    // Detection thread. The same on a frame-major feature sequence of `bands` values per frame
    // produced with frames of `frameLength` samples.
    float Update(std::span<const float> features, int frameLength, int bands);

    // For inspection (detection thread, or tests).
    float Verdict() const { return verdict_; }
    float FastDecision() const { return fastDecision_; }
    float SlowDecision() const { return slowDecision_; }
    float BandAThreshold() const { return bandAThreshold_; }
    float BandBThreshold() const { return bandBThreshold_; }
    float FastBandA() const { return fastA_; }
    float SlowBandA() const { return slowA_; }
    float FastBandB() const { return fastB_; }
    float SlowBandB() const { return slowB_; }
    float FastRatio() const { return fastRatio_; }
    float SlowRatio() const { return slowRatio_; }
    float FastSpread() const { return fastSpread_; }
    float SlowSpread() const { return slowSpread_; }
    float Floor() const { return floor_; }
    std::uint32_t LoudCount() const { return loudCount_; }
    const TelephoneBandConstants& Constants() const { return c_; }

private:
    struct BandLevels {
        float highBandSum = 0.0f;
        float smallestFast = 0.0f;
        float smallestSlow = 0.0f;
    };

    static float Spread(float largest, float smallest);
    static float Smooth(float factor, float old, float value);
    float BandSum(const float* frame, float lowKHz, float highKHz, int bands) const;
    BandLevels UpdateBandLevels(const float* frame);
    void UpdateFloor(float highBandSum, int frameLength);
    void UpdateEnergies(const float* frame, int bands);
    void UpdateLoudness(float highBandSum);
    void Decide(int bandBCount, const BandLevels& levels, float lowLimit);

    TelephoneBandConstants c_;
    float fastA_;
    float slowA_;
    float fastB_;
    float slowB_;
    float bandAThreshold_ = 0.0f;
    float bandBThreshold_ = 0.0f;
    float fastDecision_ = 0.0f;
    float slowDecision_ = 0.0f;
    float verdict_ = 0.0f;
    float fastRatio_ = 0.0f;
    float slowRatio_ = 0.0f;
    std::array<float, kLevelArraySize> fastLevels_{};
    std::array<float, kLevelArraySize> slowLevels_{};
    float fastSpread_ = 0.0f;
    float slowSpread_ = 0.0f;
    float floor_;
    std::uint32_t loudCount_ = 0;
    bool loudForLong_ = false;
};

}  // namespace hushwell
