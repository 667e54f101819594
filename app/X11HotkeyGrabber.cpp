#include "app/X11HotkeyGrabber.h"
#include "ui/VirtualKeyTable.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>

namespace hushwell {

namespace {

// Set by the error handler while a grab is being checked.
bool gGrabRefused = false;

int RecordGrabError(Display* /*display*/, XErrorEvent* error) {
    if (error->error_code == BadAccess) {
        gGrabRefused = true;
    }
    return 0;
}

unsigned int FindNumLockMask(Display* display) {
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) {
        return Mod2Mask;
    }
    unsigned int mask = 0;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            if (numLock != 0 && map->modifiermap[modifier * map->max_keypermod + k] == numLock) {
                mask = 1U << modifier;
            }
        }
    }
    XFreeModifiermap(map);
    return mask != 0 ? mask : Mod2Mask;
}

}  // namespace

X11HotkeyGrabber::X11HotkeyGrabber(PressedFunction pressed) : pressed_(std::move(pressed)) {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
        return;
    }
    root_ = DefaultRootWindow(display_);
    numLockMask_ = FindNumLockMask(display_);
    // Without auto-repeat detection a held key would report a press per repeat.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display_, True, &supported);
    XSelectInput(display_, root_, KeyPressMask);
}

X11HotkeyGrabber::~X11HotkeyGrabber() {
    if (display_ == nullptr) {
        return;
    }
    for (const auto& [id, grab] : grabs_) {
        UngrabAllVariants(grab);
    }
    XCloseDisplay(display_);
}

int X11HotkeyGrabber::ConnectionFd() const {
    return display_ != nullptr ? ConnectionNumber(display_) : -1;
}

unsigned long X11HotkeyGrabber::KeySymOf(int virtualKey) {
    using K = VirtualKeyTable;
    if (virtualKey >= K::kDigit0 && virtualKey <= K::kDigit9) {
        return XK_0 + static_cast<unsigned long>(virtualKey - K::kDigit0);
    }
    if (virtualKey >= K::kLetterA && virtualKey <= K::kLetterZ) {
        return XK_a + static_cast<unsigned long>(virtualKey - K::kLetterA);
    }
    if (virtualKey >= K::kNumPad0 && virtualKey <= K::kNumPad9) {
        return XK_KP_0 + static_cast<unsigned long>(virtualKey - K::kNumPad0);
    }
    if (virtualKey >= K::kF1 && virtualKey <= K::kF12) {
        return XK_F1 + static_cast<unsigned long>(virtualKey - K::kF1);
    }
    switch (virtualKey) {
        case 8:
            return XK_BackSpace;
        case 13:
            return XK_Return;
        case 32:
            return XK_space;
        case 35:
            return XK_End;
        case 36:
            return XK_Home;
        case 37:
            return XK_Left;
        case 38:
            return XK_Up;
        case 39:
            return XK_Right;
        case 40:
            return XK_Down;
        case 45:
            return XK_Insert;
        case 46:
            return XK_Delete;
        default:
            return 0;
    }
}

unsigned int X11HotkeyGrabber::XModifiersOf(int modifiers) const {
    unsigned int mask = 0;
    if ((modifiers & kAlt) != 0) {
        mask |= Mod1Mask;
    }
    if ((modifiers & kControl) != 0) {
        mask |= ControlMask;
    }
    if ((modifiers & kShift) != 0) {
        mask |= ShiftMask;
    }
    if ((modifiers & kWindows) != 0) {
        mask |= Mod4Mask;
    }
    return mask;
}

bool X11HotkeyGrabber::GrabAllVariants(const Grab& grab) {
    const std::array<unsigned int, 4> variants = {0U, numLockMask_, LockMask,
                                                  numLockMask_ | LockMask};
    XSync(display_, False);
    gGrabRefused = false;
    XErrorHandler previous = XSetErrorHandler(RecordGrabError);
    for (unsigned int variant : variants) {
        XGrabKey(display_, static_cast<int>(grab.keycode), grab.modifiers | variant, root_, True,
                 GrabModeAsync, GrabModeAsync);
    }
    XSync(display_, False);
    XSetErrorHandler(previous);
    if (gGrabRefused) {
        UngrabAllVariants(grab);
        return false;
    }
    return true;
}

void X11HotkeyGrabber::UngrabAllVariants(const Grab& grab) {
    const std::array<unsigned int, 4> variants = {0U, numLockMask_, LockMask,
                                                  numLockMask_ | LockMask};
    for (unsigned int variant : variants) {
        XUngrabKey(display_, static_cast<int>(grab.keycode), grab.modifiers | variant, root_);
    }
    // Wait until the server has released the keys, so that another client (or a key list
    // probe) that grabs them next cannot be refused by a release still on its way.
    XSync(display_, False);
}

bool X11HotkeyGrabber::Register(int id, int modifiers, int virtualKey) {
    if (display_ == nullptr) {
        return false;
    }
    Unregister(id);
    const unsigned long keysym = KeySymOf(virtualKey);
    const KeyCode keycode = keysym != 0 ? XKeysymToKeycode(display_, keysym) : 0;
    if (keycode == 0) {
        return false;
    }
    const Grab grab{keycode, XModifiersOf(modifiers)};
    for (const auto& [otherId, other] : grabs_) {
        if (other.keycode == grab.keycode && other.modifiers == grab.modifiers) {
            return false;  // our own grab of the same combination under another id
        }
    }
    if (!GrabAllVariants(grab)) {
        return false;
    }
    grabs_[id] = grab;
    return true;
}

void X11HotkeyGrabber::Unregister(int id) {
    const auto found = grabs_.find(id);
    if (found == grabs_.end() || display_ == nullptr) {
        return;
    }
    UngrabAllVariants(found->second);
    grabs_.erase(found);
}

void X11HotkeyGrabber::ProcessEvents() {
    if (display_ == nullptr) {
        return;
    }
    while (XPending(display_) > 0) {
        HandleNextEvent();
    }
}

void X11HotkeyGrabber::ProcessQueuedEvents() {
    if (display_ == nullptr) {
        return;
    }
    while (XEventsQueued(display_, QueuedAlready) > 0) {
        HandleNextEvent();
    }
}

void X11HotkeyGrabber::HandleNextEvent() {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type != KeyPress) {
        return;
    }
    const unsigned int state = event.xkey.state & ~(numLockMask_ | LockMask);
    for (const auto& [id, grab] : grabs_) {
        if (grab.keycode == event.xkey.keycode && grab.modifiers == state) {
            pressed_(id);
            return;
        }
    }
}

}  // namespace hushwell
