#pragma once

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "app/HotkeyGrabber.h"

namespace hushwell {

// A hotkey service in memory: combinations in `taken` belong to another program.
class FakeHotkeyGrabber final : public HotkeyGrabber {
public:
    bool Register(int id, int modifiers, int virtualKey) override {
        if (taken.count({modifiers, virtualKey}) != 0) {
            return false;
        }
        registered[id] = {modifiers, virtualKey};
        return true;
    }
    void Unregister(int id) override {
        registered.erase(id);
        unregistered.push_back(id);
    }

    std::set<std::pair<int, int>> taken;
    std::map<int, std::pair<int, int>> registered;
    std::vector<int> unregistered;
};

}  // namespace hushwell
