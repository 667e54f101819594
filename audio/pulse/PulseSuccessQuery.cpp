#include "audio/pulse/PulseSuccessQuery.h"

#include <string>

#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseMainloop.h"
#include "audio/pulse/PulseOperation.h"

namespace hushwell {

void PulseSuccessQuery::Callback(pa_context*, int success, void* userdata) {
    auto* query = static_cast<PulseSuccessQuery*>(userdata);
    query->success = success != 0;
    query->done = true;
    query->loop->Signal();
}

AudioResult PulseSuccessQuery::Await(PulseConnection& connection, PulseOperation& operation,
                                     const char* call) {
    const AudioResult result = connection.AwaitLocked(operation, done, call);
    if (result != AudioResult::Ok) {
        return result;
    }
    if (success) {
        return AudioResult::Ok;
    }
    if (pa_context_errno(connection.ContextLocked()) == PA_ERR_NOENTITY) {
        return AudioResult::NotFound;
    }
    connection.Warn(std::string(call) + " failed: " + connection.ErrorTextLocked());
    return AudioResult::Failed;
}

}  // namespace hushwell
