#pragma once

#include <functional>
#include <string>

namespace hushwell {

// A desktop's global hotkey service: registers a key combination under an id and reports
// presses of it by that id (how they are reported is the implementation's). Modifier bits:
// 1 Alt, 2 Control, 4 Shift, 8 Windows key; keys are virtual-key codes.
// Called on the user-interface thread only.
class HotkeyGrabber {
public:
    static constexpr int kAlt = 1;
    static constexpr int kControl = 2;
    static constexpr int kShift = 4;
    static constexpr int kWindows = 8;

    virtual ~HotkeyGrabber() = default;

    // False when the combination cannot be had (taken by another program, an unknown key, or
    // no global hotkey service at all). An id registered again replaces its combination.
    virtual bool Register(int id, int modifiers, int virtualKey) = 0;
    // Releases the id; an id that is not registered is ignored.
    virtual void Unregister(int id) = 0;
    // How the desktop says the id's combination is triggered, where it reports that (a
    // portal binding); empty otherwise.
    virtual std::string BoundTrigger(int /*id*/) const { return {}; }

    // Hears of an id whose registration the desktop settled after Register returned: bound
    // (BoundTrigger says how) or refused, after which the id is no longer registered.
    using SettledFunction = std::function<void(int id, bool bound)>;
    // Grabbers that answer every registration at once never call the handler; an empty
    // handler stops the reports.
    virtual void SetSettledHandler(SettledFunction /*handler*/) {}
};

}  // namespace hushwell
