// One way to start a program and wait for it: CreateProcessW on Windows,
// posix_spawnp on Linux, the input fed and the output collected alike.
#include "tools/pack/host/processes.h"

#include <stdio.h>

#include <algorithm>

#include "tools/pack/host/files.h"

#ifdef _WIN32
#include <windows.h>

// One argument as the C runtime's parser reads it back: in quotes, with the
// backslashes before a quote (and before the closing one) doubled.
static std::wstring QuotedArgument(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
        }
        if (c != L'\\') {
            quoted += c;
        }
    }
    return quoted.append(backslashes * 2, L'\\') + L"\"";
}

// An inheritable copy of one of this process's standard handles for the child.
static HANDLE InheritableCopy(DWORD which) {
    HANDLE copy = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, GetStdHandle(which), self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

// A pipe whose end for the child is inheritable and whose end for this
// process is not.
static bool ChildPipe(HANDLE& read, HANDLE& write, bool childReads) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        return false;
    }
    (void)SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

static void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        (void)CloseHandle(handle);
    }
    handle = nullptr;
}

// A console program's text as UTF-8: it prints in the OEM code page, as a
// console shows it.
static std::string OemText(const std::string& ansi) {
    if (ansi.empty()) {
        return ansi;
    }
    std::wstring wide(ansi.size(), L'\0');
    const int length = MultiByteToWideChar(CP_OEMCP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    return Utf8(wide.data(), length > 0 ? length : 0);
}

// Never through cmd.exe, which would expand %VAR% in paths.
int RunChild(const ChildRun& run) {
    const std::string* input = run.Input;
    std::string collected;
    std::string* output = run.Output != nullptr ? &collected : nullptr;
    std::wstring line = QuotedArgument(Wide(run.Program));
    for (const std::string& arg : run.Args) {
        line += L" " + QuotedArgument(Wide(arg));
    }
    (void)fflush(stdout);
    (void)fflush(stderr);
    HANDLE childIn = nullptr;
    HANDLE feed = nullptr;
    HANDLE collect = nullptr;
    HANDLE childOut = nullptr;
    HANDLE childErr = nullptr;
    bool ready = input != nullptr ? ChildPipe(childIn, feed, true)
                                  : (childIn = InheritableCopy(STD_INPUT_HANDLE), true);
    ready = ready && (output != nullptr ? ChildPipe(collect, childOut, false)
                                        : (childOut = InheritableCopy(STD_OUTPUT_HANDLE), true));
    if (run.ErrorsToOutput && output != nullptr) {
        const HANDLE self = GetCurrentProcess();
        ready = ready && DuplicateHandle(self, childOut, self, &childErr, 0, TRUE, DUPLICATE_SAME_ACCESS);
    } else {
        childErr = InheritableCopy(STD_ERROR_HANDLE);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childErr;
    PROCESS_INFORMATION process = {};
    const std::wstring place = Wide(run.Directory);
    const bool started =
        ready && CreateProcessW(Wide(run.Program).c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                place.empty() ? nullptr : place.c_str(), &startup, &process);
    CloseIfOpen(childIn);
    CloseIfOpen(childOut);
    CloseIfOpen(childErr);
    bool fed = true;
    if (started && input != nullptr) {
        size_t written = 0;
        while (written < input->size()) {
            DWORD chunk = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(input->size() - written, 65536));
            if (!WriteFile(feed, input->data() + written, want, &chunk, nullptr) || chunk == 0) {
                fed = false;
                break;
            }
            written += chunk;
        }
    }
    CloseIfOpen(feed);
    if (started && output != nullptr) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(collect, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            output->append(buffer, got);
        }
    }
    CloseIfOpen(collect);
    if (run.Output != nullptr) {
        *run.Output = run.TextOutput ? OemText(collected) : collected;
    }
    if (!started) {
        return -1;
    }
    DWORD status = 0;
    const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &status);
    (void)CloseHandle(process.hThread);
    (void)CloseHandle(process.hProcess);
    if (!ended) {
        return -1;
    }
    return !fed && status == 0 ? -1 : static_cast<int>(status);
}
#else
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

// The environment for the child: this program's, with the C.UTF-8 locale
// in place of any other when its text is wanted as UTF-8.
static std::vector<std::string> ChildEnvironment(bool utf8) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (!utf8 || strncmp(*variable, "LC_ALL=", 7) != 0) {
            variables.emplace_back(*variable);
        }
    }
    if (utf8) {
        variables.emplace_back("LC_ALL=C.UTF-8");
    }
    return variables;
}

static std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

static void CloseIfOpen(int& handle) {
    if (handle >= 0) {
        (void)close(handle);
    }
    handle = -1;
}

// Milliseconds left until deadline (a CLOCK_MONOTONIC time in
// milliseconds), 0 when it has passed; -1, for poll, when there is none.
static int MillisecondsLeft(long long deadline) {
    if (deadline == 0) {
        return -1;
    }
    timespec now{};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    const long long left = deadline - (static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

// Feeds input and collects output until the child has taken all of the one
// and closed the other; false when it stopped reading before the end.
// timedOut is set when the deadline passed first.
static bool Exchange(int feed, const std::string* input, int collect, std::string* output, long long deadline,
                     bool& timedOut) {
    size_t written = 0;
    bool fed = true;
    if (feed >= 0) {
        (void)fcntl(feed, F_SETFL, fcntl(feed, F_GETFL) | O_NONBLOCK);
    }
    if (feed >= 0 && input->empty()) {
        CloseIfOpen(feed);
    }
    while (feed >= 0 || collect >= 0) {
        pollfd ends[2] = {{feed, POLLOUT, 0}, {collect, POLLIN, 0}};
        const int wait = MillisecondsLeft(deadline);
        const int ready = wait == 0 ? 0 : poll(ends, 2, wait);
        if (ready == 0) {
            timedOut = true;
            break;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (feed >= 0 && ends[0].revents != 0) {
            const size_t chunk = std::min<size_t>(input->size() - written, 65536);
            const ssize_t put = write(feed, input->data() + written, chunk);
            if (put > 0) {
                written += static_cast<size_t>(put);
            } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
                fed = false;
            }
            if (!fed || written == input->size()) {
                CloseIfOpen(feed);
            }
        }
        if (collect >= 0 && ends[1].revents != 0) {
            char buffer[4096];
            const ssize_t got = read(collect, buffer, sizeof buffer);
            if (got > 0) {
                output->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                CloseIfOpen(collect);
            }
        }
    }
    CloseIfOpen(feed);
    CloseIfOpen(collect);
    return fed;
}

int RunChild(const ChildRun& run) {
    // A child that ends before reading all of its input is an error
    // reported by its exit status, not a reason for this program to die.
    (void)signal(SIGPIPE, SIG_IGN);
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if ((run.Input != nullptr && pipe2(in, O_CLOEXEC) != 0) ||
        (run.Output != nullptr && pipe2(out, O_CLOEXEC) != 0)) {
        CloseIfOpen(in[0]);
        CloseIfOpen(in[1]);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    (void)posix_spawn_file_actions_init(&actions);
    if (in[0] >= 0) {
        (void)posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    }
    if (out[1] >= 0) {
        (void)posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (run.ErrorsToOutput) {
            (void)posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        }
    }
    if (!run.Directory.empty()) {
        (void)posix_spawn_file_actions_addchdir_np(&actions, run.Directory.c_str());
    }
    std::vector<std::string> words = {run.Program};
    words.insert(words.end(), run.Args.begin(), run.Args.end());
    std::vector<std::string> variables = ChildEnvironment(run.Output != nullptr && run.TextOutput);
    const std::vector<char*> argv = Pointers(words);
    const std::vector<char*> envp = Pointers(variables);
    (void)fflush(stdout);
    (void)fflush(stderr);
    pid_t child = 0;
    const int spawned =
        posix_spawnp(&child, run.Program.c_str(), &actions, nullptr, argv.data(), envp.data());
    (void)posix_spawn_file_actions_destroy(&actions);
    CloseIfOpen(in[0]);
    CloseIfOpen(out[1]);
    std::string collected;
    long long deadline = 0;
    if (run.TimeoutSeconds > 0) {
        timespec now{};
        (void)clock_gettime(CLOCK_MONOTONIC, &now);
        deadline = (static_cast<long long>(now.tv_sec) + run.TimeoutSeconds) * 1000 + now.tv_nsec / 1000000;
    }
    bool timedOut = false;
    const bool fed = spawned == 0 ? Exchange(in[1], run.Input, out[0], &collected, deadline, timedOut) : true;
    CloseIfOpen(in[1]);
    CloseIfOpen(out[0]);
    if (run.Output != nullptr) {
        *run.Output = collected;
    }
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(child, &status, deadline != 0 ? WNOHANG : 0);
        if (ended == child) {
            break;
        }
        if (ended < 0 && errno != EINTR) {
            return -1;
        }
        if (ended == 0 && (timedOut || MillisecondsLeft(deadline) == 0)) {
            (void)kill(child, SIGKILL);
            (void)waitpid(child, &status, 0);
            return ChildTimedOut;
        }
        if (ended == 0) {
            (void)usleep(10000);
        }
    }
    // 127: the program could not be run after all.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 126 || code == 127) {
        return -1;
    }
    return !fed && code == 0 ? -1 : code;
}
#endif
