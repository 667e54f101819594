#pragma once

#include <iosfwd>
#include <string>

namespace hushwell::scan {

// What the program makes of a reference sound: its format and duration, and the feature frames
// and match threshold of its first 7 seconds.
//
// Threads: any; each call analyses on its own.
class ReferenceDescription {
public:
    // Writes the description of one file to out. False (and error) when the file is missing,
    // unreadable or of an unacceptable format.
    static bool Describe(const std::string& path, std::ostream& out, std::string& error);
};

}  // namespace hushwell::scan
