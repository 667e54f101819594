#include "triggers/ProcessLauncher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "triggers/ArgumentSplitter.h"

extern char** environ;

namespace hushwell {

namespace {

// Where programs are looked for when PATH is not set, as the C library does.
constexpr std::string_view kDefaultSearchPath = "/bin:/usr/bin";
// The child keeps standard input, output and error only.
constexpr int kFirstDescriptorToClose = STDERR_FILENO + 1;

std::string_view TrimBlanks(std::string_view s) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool FoundInSearchPath(const std::string& name) {
    const char* env = std::getenv("PATH");
    std::string_view path = env != nullptr ? std::string_view(env) : kDefaultSearchPath;
    for (;;) {
        const auto colon = path.find(':');
        const std::string_view entry = path.substr(0, colon);
        // An empty entry means the working folder.
        std::string candidate(entry.empty() ? std::string_view(".") : entry);
        candidate.push_back('/');
        candidate.append(name);
        if (IsExecutableFile(candidate)) {
            return true;
        }
        if (colon == std::string_view::npos) {
            return false;
        }
        path.remove_prefix(colon + 1);
    }
}

// "scheme:" with a scheme of at least two characters (RFC 3986 letters, digits, + - .).
bool LooksLikeUrl(std::string_view s) {
    const auto colon = s.find(':');
    if (colon == std::string_view::npos || colon < 2 || colon + 1 == s.size()) {
        return false;
    }
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = s[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && (i == 0 || !other)) {
            return false;
        }
    }
    return true;
}

std::string InWorkingFolder(const std::string& name) {
    std::string path = "./";
    path += name;
    return path;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

// Spawn attributes: empty signal mask, every signal at its default action, own group.
class SpawnAttributes {
public:
    SpawnAttributes() {
        posix_spawnattr_init(&attr_);
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &all);
        posix_spawnattr_setpgroup(&attr_, 0);
        posix_spawnattr_setflags(
            &attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
        posix_spawn_file_actions_init(&actions_);
        posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        // Libraries (the sound server's among them) open descriptors without close-on-exec;
        // none of them is the command's business.
        posix_spawn_file_actions_addclosefrom_np(&actions_, kFirstDescriptorToClose);
    }
    ~SpawnAttributes() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attr_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    const posix_spawnattr_t* Attr() const { return &attr_; }
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }

private:
    posix_spawnattr_t attr_;
    posix_spawn_file_actions_t actions_;
};

}  // namespace

ProcessLauncher::ProcessLauncher(std::string opener) : opener_(std::move(opener)) {}

ProcessLauncher::Plan ProcessLauncher::MakePlan(const std::string& command,
                                                const std::string& commandArgs) const {
    Plan plan;
    const std::string target(TrimBlanks(command));
    if (target.empty()) {
        plan.result = Result::EmptyCommand;
        return plan;
    }
    auto args = ArgumentSplitter::Split(commandArgs);
    if (!args) {
        plan.result = Result::UnbalancedQuotes;
        return plan;
    }
    auto startProgram = [&](std::string program) {
        plan.result = Result::Started;
        plan.argv.push_back(std::move(program));
        plan.argv.insert(plan.argv.end(), args->begin(), args->end());
    };
    auto openWithOpener = [&](std::string what) {
        plan.result = Result::Started;
        plan.argv = {opener_, std::move(what)};
    };

    const bool isPath = target.find('/') != std::string::npos;
    if (!isPath && FoundInSearchPath(target)) {
        startProgram(target);
    } else if (IsExecutableFile(target)) {
        // A path, or a bare name in the working folder: spawn it by its path so that PATH
        // is not searched for it again.
        startProgram(isPath ? target : InWorkingFolder(target));
    } else if (Exists(target)) {
        openWithOpener(AbsolutePath(target));
    } else if (LooksLikeUrl(target)) {
        openWithOpener(target);
    } else {
        plan.result = Result::NotFound;
    }
    return plan;
}

ProcessLauncher::Result ProcessLauncher::Launch(const std::string& command,
                                                const std::string& commandArgs, pid_t* pid,
                                                int* spawnError) {
    Plan plan = MakePlan(command, commandArgs);
    if (plan.result != Result::Started) {
        return plan.result;
    }
    std::vector<char*> argv;
    argv.reserve(plan.argv.size() + 1);
    for (std::string& arg : plan.argv) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    SpawnAttributes spawn;
    pid_t child = 0;
    if (const int error =
            posix_spawnp(&child, argv[0], spawn.Actions(), spawn.Attr(), argv.data(), environ);
        error != 0) {
        if (spawnError != nullptr) {
            *spawnError = error;
        }
        return Result::SpawnFailed;
    }
    reaper_.Adopt(child);
    if (pid != nullptr) {
        *pid = child;
    }
    return Result::Started;
}

bool ProcessLauncher::Open(const std::string& command, const std::string& commandArgs) {
    return Launch(command, commandArgs) == Result::Started;
}

bool ProcessLauncher::OpenExplaining(const std::string& command, const std::string& commandArgs,
                                     std::string& reason) {
    int spawnError = 0;
    const Result result = Launch(command, commandArgs, nullptr, &spawnError);
    reason = Reason(result, spawnError);
    return result == Result::Started;
}

std::string ProcessLauncher::Reason(Result result, int spawnError) {
    switch (result) {
        case Result::Started:
            return {};
        case Result::EmptyCommand:
            return "no command given";
        case Result::UnbalancedQuotes:
            return "a quote in the arguments is not closed";
        case Result::NotFound:
            return "not found";
        case Result::SpawnFailed:
            break;
    }
    if (spawnError == ENOENT) {
        return "not found";
    }
    std::string text = std::strerror(spawnError);
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

}  // namespace hushwell
