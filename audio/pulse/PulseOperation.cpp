#include "audio/pulse/PulseOperation.h"

#include <pulse/operation.h>

namespace hushwell {

PulseOperation::~PulseOperation() {
    if (operation_ == nullptr) {
        return;
    }
    if (Running()) {
        pa_operation_cancel(operation_);
    }
    pa_operation_unref(operation_);
}

bool PulseOperation::Running() const {
    return operation_ != nullptr && pa_operation_get_state(operation_) == PA_OPERATION_RUNNING;
}

}  // namespace hushwell
