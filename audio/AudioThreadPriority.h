#pragma once

namespace hushwell {

// Raises the calling thread's scheduling for audio work while the object lives: real-time
// round-robin at a low priority where allowed, otherwise a better nice value. Failure is
// tolerated (the thread simply runs at normal priority); Joined() says whether it worked.
// The previous scheduling is restored by the destructor.
//
// Threads: construct and destroy on the thread to raise (the capture and render threads).
class AudioThreadPriority {
public:
    AudioThreadPriority();
    ~AudioThreadPriority();
    AudioThreadPriority(const AudioThreadPriority&) = delete;
    AudioThreadPriority& operator=(const AudioThreadPriority&) = delete;

    bool Joined() const { return joined_; }

private:
    bool joined_ = false;
    bool realTime_ = false;
    int oldPolicy_ = 0;
    int oldPriority_ = 0;
    int oldNice_ = 0;
};

}  // namespace hushwell
