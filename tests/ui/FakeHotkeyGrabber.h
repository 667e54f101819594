#pragma once

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "ui/HotkeyGrabber.h"

namespace hushwell {

// A hotkey service in memory: combinations in `taken` belong to another program. As on a real
// desktop, a combination registered under one id is refused under another.
class FakeHotkeyGrabber final : public HotkeyGrabber {
public:
    bool Register(int id, int modifiers, int virtualKey) override {
        registered.erase(id);
        const std::pair<int, int> combination{modifiers, virtualKey};
        if (taken.count(combination) != 0) {
            return false;
        }
        for (const auto& [otherId, other] : registered) {
            if (other == combination) {
                return false;
            }
        }
        registered[id] = combination;
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
