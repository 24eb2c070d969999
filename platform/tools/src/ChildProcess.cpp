#include "ChildProcess.h"

#include "ToolError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace PlatformTools
{

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
    std::vector<char*> argv;
    for (const std::string& sArgument : lArguments)
        argv.push_back(const_cast<char*>(sArgument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output != Inherit)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (output == DiscardAll)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw CToolError("cannot run " + lArguments[0] + ": " + std::strerror(rc));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw CToolError::fromErrno("cannot wait for " + lArguments[0]);
    if (!WIFEXITED(status))
        throw CToolError(lArguments[0] + " was killed by a signal");
    return WEXITSTATUS(status);
}

} // namespace PlatformTools
