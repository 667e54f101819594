#include "base/DurableWrite.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Eventually.h"
#include "tests/support/TempFolder.h"

namespace hushwell {
namespace {

using testing::Eventually;
using testing::TempFolder;

std::atomic<int> gInterruptions{0};

void CountInterruption(int) {
    gInterruptions.fetch_add(1);
}

// Catches SIGUSR1 without SA_RESTART, so that a blocked write it arrives in returns early:
// with -1 and EINTR when it took nothing yet, with the bytes taken so far otherwise.
class InterruptingSignal {
public:
    InterruptingSignal() {
        struct sigaction action {};
        action.sa_handler = CountInterruption;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(SIGUSR1, &action, &previous_);
        gInterruptions = 0;
    }
    ~InterruptingSignal() { ::sigaction(SIGUSR1, &previous_, nullptr); }
    InterruptingSignal(const InterruptingSignal&) = delete;
    InterruptingSignal& operator=(const InterruptingSignal&) = delete;

private:
    struct sigaction previous_ {};
};

// Whether the thread is blocked in a write call, as the kernel shows it.
bool BlockedInWrite(long thread) {
    std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    return static_cast<bool>(in >> number) && number == SYS_write;
}

std::size_t Queued(int readEnd) {
    int queued = 0;
    return ::ioctl(readEnd, FIONREAD, &queued) == 0 ? static_cast<std::size_t>(queued) : 0;
}

// Reads until `count` bytes came or the write end is closed.
std::vector<std::byte> ReadUpTo(int fd, std::size_t count) {
    std::vector<std::byte> got(count);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, got.data() + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    got.resize(done);
    return got;
}

std::vector<std::byte> Counting(std::size_t size) {
    std::vector<std::byte> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::byte>(i * 7 + i / 251);
    }
    return bytes;
}

// A pipe that is full from the start makes the writer block; a signal then interrupts one
// write before it took anything (EINTR) and, once the reader made room for part of the
// bytes, another one after it took that part (a short write). Every byte still arrives, in
// order, and the writer reports success.
TEST(WriteAllTest, GoesOnAfterInterruptedAndShortWrites) {
    InterruptingSignal signal;
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const int readEnd = ends[0];
    int writeEnd = ends[1];
    ::fcntl(writeEnd, F_SETPIPE_SZ, 4096);
    const int capacity = ::fcntl(writeEnd, F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    const auto pipeBytes = static_cast<std::size_t>(capacity);
    const std::vector<std::byte> filler(pipeBytes, std::byte{0xEE});
    ASSERT_EQ(::write(writeEnd, filler.data(), filler.size()), capacity);

    const std::vector<std::byte> data = Counting(3 * pipeBytes);
    std::atomic<long> writerThread{0};
    bool written = false;
    std::thread writer([&] {
        writerThread = ::syscall(SYS_gettid);
        written = WriteAll(writeEnd, data);
        ::close(writeEnd);  // the reader sees the end even when the writer gave up early
    });
    const pthread_t writerHandle = writer.native_handle();
    const auto blocked = [&] { return writerThread != 0 && BlockedInWrite(writerThread); };

    // Interrupted before the write took anything. (No ASSERT until the writer is joined.)
    EXPECT_TRUE(Eventually(blocked));
    ::pthread_kill(writerHandle, SIGUSR1);
    EXPECT_TRUE(Eventually([] { return gInterruptions == 1; }));
    // Interrupted after the write took one pipe's worth.
    EXPECT_TRUE(Eventually(blocked));
    EXPECT_EQ(ReadUpTo(readEnd, pipeBytes), filler);
    EXPECT_TRUE(Eventually([&] { return Queued(readEnd) == pipeBytes && blocked(); }));
    ::pthread_kill(writerHandle, SIGUSR1);
    EXPECT_TRUE(Eventually([] { return gInterruptions == 2; }));

    const std::vector<std::byte> got = ReadUpTo(readEnd, data.size() + 1);
    writer.join();
    ::close(readEnd);
    EXPECT_TRUE(written);
    EXPECT_EQ(got, data);
}

// The text overload writes the same bytes; errors come back as false with errno set, after
// whatever part fitted.
TEST(WriteAllTest, WritesTextAndReportsErrorsWithErrno) {
    TempFolder folder;
    const std::string path = folder.File("out");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(WriteAll(fd, std::string_view("text, ")));
    const std::vector<std::byte> bytes = Counting(64 * 1024);
    {
        // Room for part of the bytes: the part that fits is written, then EFBIG.
        testing::FileSizeLimit limit(16 * 1024);
        errno = 0;
        EXPECT_FALSE(WriteAll(fd, bytes));
        EXPECT_EQ(errno, EFBIG);
    }
    ::close(fd);
    const std::string contents = testing::ReadFile(path);
    ASSERT_EQ(contents.size(), 16u * 1024);
    EXPECT_EQ(contents.substr(0, 6), "text, ");
    EXPECT_EQ(static_cast<std::byte>(contents[7]), bytes[1]);

    errno = 0;
    EXPECT_FALSE(WriteAll(fd, std::string_view("closed")));
    EXPECT_EQ(errno, EBADF);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full >= 0) {
        errno = 0;
        EXPECT_FALSE(WriteAll(full, bytes));
        EXPECT_EQ(errno, ENOSPC);
        ::close(full);
    }
    // Nothing to write is no error, even on a closed descriptor.
    EXPECT_TRUE(WriteAll(fd, std::span<const std::byte>()));
}

}  // namespace
}  // namespace hushwell
