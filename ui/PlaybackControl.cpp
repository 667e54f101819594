#include "ui/PlaybackControl.h"

namespace hushwell {

void PlaybackControl::Attach(AudioBackend* backend, EndReport report) {
    Detach();
    if (backend != nullptr) {
        player_ = std::make_unique<SoundPlayer>(*backend, std::move(report));
    }
}

void PlaybackControl::Detach() {
    player_.reset();
}

bool PlaybackControl::Play(std::shared_ptr<const WaveData> sound, std::uint32_t first,
                           std::uint32_t last) {
    if (!player_ || !player_->Play(std::move(sound), first, last)) {
        return false;
    }
    playing_ = true;
    return true;
}

bool PlaybackControl::Pause() {
    if (!player_) {
        return false;
    }
    if (player_->IsPlaying()) {
        player_->Pause();
        return false;
    }
    // The player ignores a pause before its stream has started; nothing has been heard yet,
    // so the play is stopped (the next one starts at the selection start).
    player_->Stop();
    if (player_->IsBusy()) {
        return false;
    }
    playing_ = false;  // cancelled before it began: no end will be reported
    return true;
}

void PlaybackControl::Stop() {
    if (player_) {
        player_->Stop();
    }
    playing_ = false;
}

bool PlaybackControl::Ended() {
    if (!player_ || player_->IsBusy()) {
        return false;
    }
    playing_ = false;
    return true;
}

void PlaybackControl::Rewind(std::uint32_t frame) {
    if (player_) {
        player_->Rewind(frame);
    }
}

std::int64_t PlaybackControl::Position() const {
    return player_ ? std::int64_t{player_->PlayBase()} + player_->Cursor() : 0;
}

}  // namespace hushwell
