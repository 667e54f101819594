#pragma once

#include <cstdint>
#include <memory>

#include "wav/WaveData.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class RenderBuffer;

// Converts frames of a sound into render buffers in a render stream's mix format.
//
// Values, per sample:
// | sound        | mix 32-bit float                      | mix 16-bit                          |
// | 16-bit       | s / 32767, not below -1.0             | copied                              |
// | 32-bit int   | s / 2147483647, not below -1.0        | the high 16 bits                    |
// | 32-bit float | copied                                | s x 32767 clamped to +-32767,       |
// |              |                                       | truncated toward zero (NaN gives 0) |
// Channels: with fewer mix channels than the sound has, each frame's first channels are taken;
// with more, the sound fills the first channels and the others are silent (a mono sound plays
// on the first channel only).
// Rate: a sound at another rate than the mix format is resampled (linear interpolation), so it
// plays at its own speed and pitch; at the same rate every sample converts exactly as above.
//
// Threads: no lock; the player thread owns it. The sound must outlive the builder and not
// change while it converts.
class RenderBufferBuilder {
public:
    RenderBufferBuilder(const WaveData& sound, const WaveFormat& mixFormat);

    // False when the sound holds no samples of a kind above, or the mix format is neither
    // 16-bit integer nor 32-bit float PCM with whole frames; nothing can be built then.
    bool Usable() const { return usable_; }
    // Frames held by the sound.
    std::uint32_t SoundFrames() const { return soundFrames_; }
    // Frames a sound holds (its samples over its channels), whatever the mix format.
    static std::uint32_t FramesHeld(const WaveData& sound);

    // Mix-format frames that `soundFrames` frames of the sound play for, and back (rounded
    // down, at most `soundFrames` of the sound's range).
    std::uint64_t MixFramesFor(std::uint32_t soundFrames) const;
    std::uint32_t SoundFramesFor(std::uint64_t mixFrames) const;

    // The sound's frames [first, first + count) (cut to the sound's end) as a list of buffers
    // of `framesPerBuffer` mix frames each; the tail of the last one is silence. Null when the
    // builder is not usable, the range or the buffer size is empty, or an allocation fails
    // (the buffers built so far are freed). `buffers` gets the number built.
    std::unique_ptr<RenderBuffer> Build(std::uint32_t first, std::uint32_t count,
                                        std::uint32_t framesPerBuffer,
                                        std::uint32_t& buffers) const;

private:
    enum class Source { Pcm16, Pcm32, Float };

    // Converts mix frames [mixFirst, mixFirst + frames) of the range starting at the sound's
    // frame `first` and holding `count` frames into `out` (frames x the mix frame size bytes).
    void Convert(std::uint32_t first, std::uint32_t count, std::uint64_t mixFirst,
                 std::uint32_t frames, std::uint8_t* out) const;

    double SourceValue(std::uint64_t frame, std::uint16_t channel) const;
    double InterpolatedValue(std::uint32_t first, std::uint32_t count, std::uint64_t mixFrame,
                             std::uint16_t channel) const;
    void WriteSample(double value, std::uint8_t* out) const;

    const WaveData& sound_;
    WaveFormat mixFormat_;
    bool usable_ = false;
    Source source_ = Source::Pcm16;
    bool mixFloat_ = false;
    std::uint16_t soundChannels_ = 0;
    std::uint32_t soundFrames_ = 0;
    std::uint32_t soundRate_ = 0;
};

}  // namespace hushwell
