#include "TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
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

} // namespace TestSupport
