#include "triggers/EventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "base/DurableWrite.h"
#include "base/SafeFileOpen.h"

namespace hushwell {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr mode_t kLogFileMode = 0644;

std::string FormatStamp(const LocalTime& t) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%4d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return stamp;
}

// A message is one line: line breaks inside it would split it into lines without a time
// stamp, so they are written as spaces.
std::string OneLine(std::string_view message) {
    std::string line(message);
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

// Never blocks and never writes anywhere but a regular file at the path itself: a FIFO, a
// folder or a link there is refused with `problem` saying which.
int OpenForAppend(const std::string& path, std::string& problem) {
    return OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, kLogFileMode, true, &problem);
}

// Size of the file behind fd, or -1 when it cannot be read.
long long FileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

}  // namespace

EventLog::EventLog(const Clock& clock) : EventLog(clock, std::cerr) {}

EventLog::EventLog(const Clock& clock, std::ostream& failures)
    : clock_(clock), failures_(failures) {}

void EventLog::SetPath(std::string path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
}

std::string EventLog::Path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

std::string EventLog::RotatedPath(const std::string& path, const LocalTime& t) {
    constexpr std::size_t kExtensionLength = 4;  // ".txt"
    std::string base =
        path.size() > kExtensionLength ? path.substr(0, path.size() - kExtensionLength) : path;
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "_%4d%02d%02d_%02d%02d%02d.txt", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return base + suffix;
}

void EventLog::WriteLine(std::string_view message) {
    std::lock_guard lock(mutex_);
    if (path_.empty()) {
        return;
    }
    const LocalTime now = clock_.Now();
    std::string line = FormatStamp(now) + "," + OneLine(message) + "\n";
    std::string problem;
    if (!AppendLocked(now, line, problem)) {
        ReportFailureLocked(problem, line);
    }
}

bool EventLog::AppendLocked(const LocalTime& now, std::string line, std::string& problem) {
    int fd = OpenForAppend(path_, problem);
    if (fd < 0) {
        return false;
    }
    if (FileSize(fd) >= static_cast<long long>(kRotationSize)) {
        ::close(fd);
        // Replaces a log rotated earlier within the same second. When the rename fails the
        // line is appended to the full log rather than the file being started afresh: a log
        // that cannot be moved aside keeps growing instead of being wiped.
        std::rename(path_.c_str(), RotatedPath(path_, now).c_str());
        fd = OpenForAppend(path_, problem);
        if (fd < 0) {
            return false;
        }
    }
    const long long sizeBefore = FileSize(fd);
    if (sizeBefore == 0) {
        line.insert(0, kByteOrderMark);
    }
    // One write call per line, so that a reader never sees half of one; WriteAll's loop only
    // covers the rare short write.
    const bool written = WriteAll(fd, line);
    if (!written) {
        problem = std::strerror(errno);
    }
    if (!written && sizeBefore >= 0) {
        // No half line stays behind to run into the next one.
        (void)::ftruncate(fd, static_cast<off_t>(sizeBefore));
    }
    ::close(fd);
    return written;
}

void EventLog::ReportFailureLocked(std::string_view problem, std::string_view line) {
    failures_ << "Hushwell: cannot write to the log " << path_ << " (" << problem << "): " << line
              << std::flush;
}

EventLog& ProgramLog() {
    static EventLog log;
    return log;
}

void WriteLogLine(std::string_view message) {
    ProgramLog().WriteLine(message);
}

bool SetUpLogPath(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const bool exists = std::filesystem::is_directory(folder, ec);
    // Even when the folder is missing or a file stands in its place: writes then fail with the
    // reason on standard error, and never go into a file that is not the log.
    ProgramLog().SetPath(folder + "/" + std::string(EventLog::kFileName));
    return exists;
}

}  // namespace hushwell
