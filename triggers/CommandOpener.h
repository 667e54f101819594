#pragma once

#include <string>

namespace hushwell {

// What an "exec" control calls to open its command: a program with its arguments, a
// document or a URL. Implementations start the command and return at once; they never
// wait for it to end.
class CommandOpener {
public:
    virtual ~CommandOpener() = default;

    // Any thread. Returns whether something was started.
    virtual bool Open(const std::string& command, const std::string& commandArgs) = 0;
    // Open, saying in `reason` (in words: "not found", "permission denied", ...) why nothing
    // was started when it returns false. Any thread.
    virtual bool OpenExplaining(const std::string& command, const std::string& commandArgs,
                                std::string& reason) {
        reason.clear();
        return Open(command, commandArgs);
    }
};

}  // namespace hushwell
