#include "audio/AudioResult.h"

namespace hushwell {

const char* AudioResultText(AudioResult result) {
    switch (result) {
        case AudioResult::Ok:
            return "ok";
        case AudioResult::Failed:
            return "failed";
        case AudioResult::NoServer:
            return "no server";
        case AudioResult::NotFound:
            return "not found";
        case AudioResult::InvalidArgument:
            return "invalid argument";
        case AudioResult::WrongState:
            return "wrong state";
        case AudioResult::Unsupported:
            return "unsupported";
        case AudioResult::DeviceInvalidated:
            return "device invalidated";
        case AudioResult::TimedOut:
            return "timed out";
    }
    return "unknown";
}

}  // namespace hushwell
