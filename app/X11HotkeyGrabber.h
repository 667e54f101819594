#pragma once

#include <functional>
#include <map>

#include "ui/HotkeyGrabber.h"

struct _XDisplay;

namespace hushwell {

// Global hotkeys as key grabs on the root window of an X display, over a connection of its
// own. Each combination is grabbed four times (plain, with NumLock, with CapsLock, with
// both) so the lock keys do not hide it; a grab another client holds (BadAccess) fails the
// registration. Without a display (none set, a Wayland session without X) every
// registration fails.
//
// Presses are read by ProcessEvents when ConnectionFd() is readable and reported by id.
// User-interface thread only.
class X11HotkeyGrabber final : public HotkeyGrabber {
public:
    using PressedFunction = std::function<void(int id)>;

    // Opens the display named by DISPLAY; Available() tells whether that worked.
    explicit X11HotkeyGrabber(PressedFunction pressed);
    ~X11HotkeyGrabber() override;
    X11HotkeyGrabber(const X11HotkeyGrabber&) = delete;
    X11HotkeyGrabber& operator=(const X11HotkeyGrabber&) = delete;

    bool Available() const { return display_ != nullptr; }
    // The connection's file descriptor, -1 without a display.
    int ConnectionFd() const;

    bool Register(int id, int modifiers, int virtualKey) override;
    void Unregister(int id) override;

    // Reads every event from the connection and reports the presses of registered
    // combinations (when ConnectionFd() is readable).
    void ProcessEvents();
    // Reports the presses among events already read into the queue, without reading: replies
    // to a registration can bring events in with them, after which the descriptor stays
    // quiet. Call it before the event loop waits.
    void ProcessQueuedEvents();

    // The X key symbol of a virtual-key code of the hotkey table; 0 for others.
    static unsigned long KeySymOf(int virtualKey);

private:
    struct Grab {
        unsigned int keycode;
        unsigned int modifiers;
    };

    void HandleNextEvent();
    unsigned int XModifiersOf(int modifiers) const;
    bool GrabAllVariants(const Grab& grab);
    void UngrabAllVariants(const Grab& grab);

    PressedFunction pressed_;
    _XDisplay* display_ = nullptr;
    unsigned long root_ = 0;
    unsigned int numLockMask_ = 0;
    std::map<int, Grab> grabs_;
};

}  // namespace hushwell
