#pragma once

#include "audio/AudioResult.h"
#include "audio/AudioSessionEvents.h"

namespace hushwell {

// The session of one audio client (AudioClient::GetSessionControl): tells registered
// listeners when the client's device is removed or changes format.
//
// Threads: any thread may register and unregister. The listener must stay alive until
// UnregisterAudioSessionNotification returns; once it has returned, the listener is not being
// called and never will be again (when called from inside the listener itself, it only
// guarantees the latter). Destroying the control unregisters every listener the same way.
class AudioSessionControl {
public:
    virtual ~AudioSessionControl() = default;

    // A listener registered twice is called once. Null gives InvalidArgument.
    virtual AudioResult RegisterAudioSessionNotification(AudioSessionEvents* listener) = 0;
    // NotFound when the listener was not registered.
    virtual AudioResult UnregisterAudioSessionNotification(AudioSessionEvents* listener) = 0;
};

}  // namespace hushwell
