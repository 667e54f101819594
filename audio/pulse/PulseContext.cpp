#include "audio/pulse/PulseContext.h"

#include <pulse/context.h>
#include <pulse/subscribe.h>

namespace hushwell {

PulseContext::~PulseContext() {
    Reset();
}

void PulseContext::Reset(pa_context* context) {
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    context_ = context;
}

}  // namespace hushwell
