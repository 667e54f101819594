#pragma once

namespace hushwell {

// The result of every call into the platform audio layer; Ok (0) is success. Callers that only
// need to know whether a step worked compare against Ok; the other codes say why it did not.
enum class AudioResult : int {
    Ok = 0,
    Failed = 1,             // the sound server refused the request
    NoServer = 2,           // no sound server answered within the layer's time-out
    NotFound = 3,           // no default output, or the device has gone away
    InvalidArgument = 4,    // a parameter or format the layer cannot accept
    WrongState = 5,         // called out of order (not initialised, buffer still held, ...)
    Unsupported = 6,        // the object does not offer that operation
    DeviceInvalidated = 7,  // the stream's device was removed or changed its format
    TimedOut = 8,           // the server did not answer in time
};

// A short English name of the result for log lines, e.g. "no server". Any thread.
const char* AudioResultText(AudioResult result);

inline bool Succeeded(AudioResult result) {
    return result == AudioResult::Ok;
}

}  // namespace hushwell
