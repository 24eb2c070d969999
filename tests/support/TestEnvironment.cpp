#include "TestEnvironment.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSupport
{
namespace
{
std::string g_testDirectory;
pid_t g_ownerPid = 0;

void removeTestDirectory()
{
    // Forked children exit through here too; only the process that made it removes it.
    if (!g_testDirectory.empty() && getpid() == g_ownerPid)
    {
        std::error_code ec;
        if (chdir("/") == 0)
            std::filesystem::remove_all(g_testDirectory, ec);
    }
}

std::string envOr(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}
} // namespace

void setUpProcessEnvironment()
{
    std::string base = envOr("TMPDIR", "/tmp");
    std::string pattern = base + "/tessary-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create the test directory under " + base);
    g_testDirectory = pattern;
    g_ownerPid = getpid();
    const std::string home = g_testDirectory + "/home";
    std::filesystem::create_directories(home + "/.config");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("CFFIXED_USER_HOME", home.c_str(), 1);
    setenv("TESSARY_ANY_USER_PREFERENCES", (g_testDirectory + "/system-preferences").c_str(), 1);
    // Tools keep per-session records (attached images) here; keep them per test.
    const std::string runtime = g_testDirectory + "/run";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    if (chdir(g_testDirectory.c_str()) != 0)
        throw std::runtime_error("cannot enter the test directory " + g_testDirectory);
    std::atexit(removeTestDirectory);
}

const std::string& testDirectory()
{
    return g_testDirectory;
}

std::string sourceDirectory()
{
    return envOr("TESSARY_SOURCE_DIR", TESSARY_TEST_SOURCE_DIR);
}

std::string binaryDirectory()
{
    return envOr("TESSARY_BINARY_DIR", TESSARY_TEST_BINARY_DIR);
}

std::string toolsDirectory()
{
    return envOr("TESSARY_TOOLS_DIR", binaryDirectory() + "/libexec/tessary");
}

int runCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        if (output)
            output->append(buffer, n);
    int status = pclose(pipe);
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& directory, const std::string& input)
{
    ProgramResult result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return result;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0)
    {
        if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0 ||
            (!directory.empty() && chdir(directory.c_str()) != 0))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (pid < 0)
    {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return result;
    }
    // Input, output and errors at once, so that neither side waits on a full pipe.
    std::size_t written = 0;
    int toChild = in[1];
    if (input.empty())
    {
        close(toChild);
        toChild = -1;
    }
    else
        fcntl(toChild, F_SETFL, O_NONBLOCK);
    int reading = 2;
    while (reading > 0 || toChild >= 0)
    {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {toChild, POLLOUT, 0}};
        if (poll(fds, 3, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i)
        {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                (i == 0 ? result.out : result.err).append(buffer, std::size_t(n));
            else if (n == 0 || errno != EINTR)
            {
                close(fds[i].fd);
                (i == 0 ? out[0] : err[0]) = -1;
                --reading;
            }
        }
        if (toChild >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)))
        {
            // A child that stops reading must not kill this process with SIGPIPE.
            sigset_t pipeSignal, previous;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
            const ssize_t n = write(toChild, input.data() + written, input.size() - written);
            if (n < 0 && errno == EPIPE)
            {
                const timespec none = {0, 0};
                sigtimedwait(&pipeSignal, nullptr, &none);
            }
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            if (n > 0)
                written += std::size_t(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size())
            {
                close(toChild);
                toChild = -1;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes, int mode)
{
    const std::filesystem::path target(path);
    if (target.has_parent_path())
        std::filesystem::create_directories(target.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out || ::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0)
        throw std::runtime_error("cannot write " + path);
}

} // namespace TestSupport
