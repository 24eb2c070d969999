#include "ChildProcess.h"

#include "ToolError.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace PlatformTools
{
namespace
{
// Only async-signal-safe calls between fork and exec.
[[noreturn]] void startChild(char** argv, CChildProcess::Output output, int captureFd,
                             std::uint64_t maxFileBytes)
{
#ifdef __linux__
    // When this tool is stopped (its caller's time limit), the child goes with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    if (maxFileBytes > 0)
    {
        const struct rlimit limit = {static_cast<rlim_t>(maxFileBytes),
                                     static_cast<rlim_t>(maxFileBytes)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, STDIN_FILENO) < 0)
        ::_exit(126);
    if (output == CChildProcess::Capture && ::dup2(captureFd, STDOUT_FILENO) < 0)
        ::_exit(126);
    if ((output == CChildProcess::DiscardStdout || output == CChildProcess::DiscardAll) &&
        ::dup2(null, STDOUT_FILENO) < 0)
        ::_exit(126);
    if ((output == CChildProcess::DiscardAll || output == CChildProcess::Capture) &&
        ::dup2(null, STDERR_FILENO) < 0)
        ::_exit(126);
    ::signal(SIGXFSZ, SIG_DFL);
    ::execve(argv[0], argv, environ);
    ::_exit(127);
}
} // namespace

std::string CChildProcess::findProgram(const std::string& sName)
{
    const char* path = std::getenv("PATH");
    std::string sPath = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t colon = sPath.find(':', start);
        std::string sDir = sPath.substr(start, colon - start);
        if (sDir.empty())
            sDir = ".";
        const std::string sCandidate = sDir + "/" + sName;
        struct stat st;
        if (::stat(sCandidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(sCandidate.c_str(), X_OK) == 0)
            return sCandidate;
        if (colon == std::string::npos)
            return std::string();
        start = colon + 1;
    }
}

int CChildProcess::run(const std::vector<std::string>& lArguments, Output output)
{
    return run(lArguments, output, SLimits());
}

int CChildProcess::run(const std::vector<std::string>& lArguments, Output output,
                       const SLimits& limits, std::string* pCaptured)
{
    std::string sProgram = lArguments[0];
    if (sProgram.find('/') == std::string::npos)
        sProgram = findProgram(sProgram);
    if (sProgram.empty())
        throw CToolError("cannot run " + lArguments[0] + ": not found");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(sProgram.c_str()));
    for (std::size_t i = 1; i < lArguments.size(); ++i)
        argv.push_back(const_cast<char*>(lArguments[i].c_str()));
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (output == Capture && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw CToolError::fromErrno("cannot run " + lArguments[0]);
    const pid_t pid = ::fork();
    if (pid == 0)
        startChild(argv.data(), output, pipeFds[1], limits.maxFileBytes);
    if (pipeFds[1] >= 0)
        ::close(pipeFds[1]);
    if (pid < 0)
    {
        if (pipeFds[0] >= 0)
            ::close(pipeFds[0]);
        throw CToolError::fromErrno("cannot run " + lArguments[0]);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.seconds);
    bool bTimedOut = false;
    bool bTooMuchOutput = false;
    int readFd = pipeFds[0];
    int status = 0;
    bool bExited = false;
    while (!bExited || readFd >= 0)
    {
        if (!bExited)
        {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid)
                bExited = true;
            else if (done < 0 && errno != EINTR)
            {
                if (readFd >= 0)
                    ::close(readFd);
                throw CToolError::fromErrno("cannot wait for " + lArguments[0]);
            }
        }
        const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   deadline - std::chrono::steady_clock::now())
                                   .count();
        if (left <= 0)
        {
            bTimedOut = true;
            break;
        }
        if (readFd < 0)
        {
            if (!bExited)
                ::usleep(20000);
            continue;
        }
        struct pollfd pfd = {readFd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(std::min(left, 100LL))) <= 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::read(readFd, buffer, sizeof buffer);
        if (n > 0)
        {
            if (pCaptured->size() + static_cast<std::size_t>(n) > limits.maxCapture)
            {
                bTooMuchOutput = true;
                break;
            }
            pCaptured->append(buffer, static_cast<std::size_t>(n));
        }
        else if (n == 0 || errno != EINTR)
        {
            ::close(readFd);
            readFd = -1;
        }
    }
    if (readFd >= 0)
        ::close(readFd);
    if (bTimedOut || bTooMuchOutput)
    {
        ::kill(pid, SIGKILL);
        if (!bExited)
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
            {
            }
        if (bTimedOut)
            throw CToolError(lArguments[0] + " did not finish within its limit of " +
                             std::to_string(limits.seconds) + " s and was stopped");
        throw CToolError(lArguments[0] + " wrote more than " + std::to_string(limits.maxCapture) +
                         " bytes of output");
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ)
        throw CToolError(lArguments[0] + " tried to write a file larger than the limit of " +
                         std::to_string(limits.maxFileBytes) + " bytes");
    if (!WIFEXITED(status))
        throw CToolError(lArguments[0] + " was killed by a signal");
    return WEXITSTATUS(status);
}

} // namespace PlatformTools
