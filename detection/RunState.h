#pragma once

namespace hushwell {

// Whether detection runs or is paused. The numbers are the ids of the tray menu shown in each
// state (the running menu offers "Stop", the paused one "Start"); nothing stores them.
enum class RunState { Running = 130, Paused = 133 };

}  // namespace hushwell
