#pragma once

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>

#include "base/Clock.h"

namespace hushwell {

// The plain-text record of what happened: one UTF-8 line per message, "YYYY/MM/DD hh:mm:ss",
// a comma and the message. A new file starts with a UTF-8 byte-order mark. When the file has
// reached kRotationSize bytes it is renamed aside under a time-stamped name
// ("Hushwell-log_20240305_140709.txt") and a fresh file is started.
//
// The file is opened and closed for every line, so other programs may read it at any time.
// A line that cannot be written (full disk, missing folder) is reported on the failure
// stream, standard error in the program, so it is not lost without a trace. Only a regular
// file at the path is ever written: opening never blocks (a FIFO there is refused, not waited
// on) and never follows a symbolic link, so no line goes into a file the program did not
// create as its log.
// Every method may be called from any thread; one lock serialises all of them.
class EventLog {
public:
    static constexpr std::uint64_t kRotationSize = 524188;  // 100 bytes less than 512 KiB
    static constexpr std::string_view kFileName = "Hushwell-log.txt";

    explicit EventLog(const Clock& clock = SystemClock::Instance());
    EventLog(const Clock& clock, std::ostream& failures);
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // An empty path (the default) makes every write a silent no-op.
    void SetPath(std::string path);
    std::string Path() const;

    // Appends one line. When the line cannot be written whole, whatever part of it reached
    // the file is taken back and one line naming the log, the reason and the lost line goes
    // to the failure stream.
    void WriteLine(std::string_view message);

    // The name the full log is renamed to when it is rotated at the given local time.
    static std::string RotatedPath(const std::string& path, const LocalTime& t);

private:
    mutable std::mutex mutex_;
    // Appends line to the log file; false with errno set when it could not be written whole.
    bool AppendLocked(const LocalTime& now, std::string line, std::string& problem);
    void ReportFailureLocked(std::string_view problem, std::string_view line);

    const Clock& clock_;
    std::ostream& failures_;
    std::string path_;
};

// The program-wide log that WriteLogLine writes to. Its path is set at start-up.
EventLog& ProgramLog();

// Appends one line to the program-wide log. Any thread.
void WriteLogLine(std::string_view message);

// Start-up set-up of the program-wide log: creates the folder when missing and points the
// log at kFileName inside it. If the folder cannot be created (a file stands in its place),
// every later line goes to standard error with the reason. Returns whether the folder exists.
bool SetUpLogPath(const std::string& folder);

}  // namespace hushwell
