// Another user of the computer must not be able to hold a user's store lock.
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

#include <preference/PlistStore.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using TestSupport::ChildProcess;
using TestSupport::helperProgram;

namespace fs = std::filesystem;

namespace
{

// Lock files that name the application, wherever a store might keep them.
std::vector<fs::path> LockFilesOf(const std::string& applicationId)
{
    std::vector<fs::path> found;
    for (const fs::path& root :
         {fs::path(TestSupport::testDirectory()), fs::path("/tmp/ombrel-preference-locks")})
    {
        std::error_code error;
        for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
             it.increment(error))
        {
            const std::string name = it->path().filename().string();
            if (name.find(applicationId) != std::string::npos && it->path().extension() == ".lock")
                found.push_back(it->path());
        }
    }
    return found;
}

} // namespace

TEST(LockOwner, AnotherUserCannotHoldAUsersStoreLock)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a process as another user";
    if (access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "setpriv is not installed";
    if (TestSupport::runCommand("/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                helperProgram() + " > /dev/null 2>&1") != 2)
        GTEST_SKIP() << "the helper cannot run as user nobody here";

    Preference::PlistStore store(CFSTR("com.ombrel.Owned"), kCFPreferencesCurrentUser,
                                 kCFPreferencesAnyHost);
    ASSERT_TRUE(store.Write(L"A", L"b", L"first"));
    const std::vector<fs::path> locks = LockFilesOf("com.ombrel.Owned");

    // User nobody tries to take every lock file it can find and keep it.
    std::vector<std::unique_ptr<ChildProcess>> holders;
    for (const fs::path& lock : locks)
    {
        holders.emplace_back(
            new ChildProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                              "--clear-groups", helperProgram(), "hold", lock.string()}));
        holders.back()->readLine();
    }
    EXPECT_TRUE(store.Write(L"A", L"b", L"second")) << "another user blocked the lock";
    for (auto& holder : holders)
        holder->closeInput();
}
