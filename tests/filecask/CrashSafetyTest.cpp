// Saves must leave the old or the new document whatever instant the writer
// dies, and a save that stored nothing must say so.
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

#include <filecask/FileCask.h>
#include <filecask/SimpleFileCask.h>
#include <filecask/XmlStore.h>

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using TestSupport::ChildProcess;
using TestSupport::helperProgram;

using Preference::FileCask;
using Preference::SimpleFileCask;
using Preference::XmlStore;

namespace
{
std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

boost::shared_ptr<Preference::StreamStore> caskOf(const std::string& kind, const std::string& path)
{
    if (kind == "simple")
        return boost::make_shared<SimpleFileCask>(FileCask::PrivateAccess, wide(path));
    return boost::make_shared<FileCask>(FileCask::PrivateAccess, wide(path));
}

XmlStore storeOf(const std::string& kind, const std::string& path)
{
    return XmlStore(caskOf(kind, path), kind == "simple" ? 0 : 1, true);
}

// Kills writers of a store at random instants and counts the stores that
// afterwards lost the value written before the writers started.
int storesLostToKills(const std::string& kind, int rounds)
{
    const std::string path = kind + "-killed.dat";
    {
        XmlStore store = storeOf(kind, path);
        if (!store.Write(L"Kept", L"marker", L"still here"))
            return rounds;
    }
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay(0, 12000);
    int lost = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    for (int i = 0; i < rounds && std::chrono::steady_clock::now() < deadline; ++i)
    {
        {
            ChildProcess writer({helperProgram(), "churn", kind, path});
            if (writer.readLine() != "ready")
                return rounds;
            std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
            writer.kill(SIGKILL);
            writer.wait();
        }
        XmlStore reader = storeOf(kind, path);
        std::wstring marker;
        if (!reader.Read(L"Kept", L"marker", marker, L"") || marker != L"still here")
        {
            // Put it back, so that every round counts on its own.
            ++lost;
            reader.Write(L"Kept", L"marker", L"still here");
        }
    }
    return lost;
}
} // namespace

TEST(CrashSafety, WritersKilledAtRandomInstantsNeverLoseTheStore)
{
    for (const std::string kind : {"cask", "simple"})
        EXPECT_EQ(storesLostToKills(kind, 120), 0) << kind;
}

TEST(CrashSafety, AFullDiskFailsTheWriteAndKeepsTheOldDocument)
{
    for (const std::string kind : {"cask", "simple"})
    {
        const std::string path = kind + "-full.dat";
        ASSERT_TRUE(storeOf(kind, path).Write(L"Kept", L"marker", L"old"));
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0)
        {
            // Room for the old document, none for a much larger one.
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            XmlStore store = storeOf(kind, path);
            const bool written = store.Write(L"Kept", L"marker", std::wstring(20000, L'n'));
            _exit(written ? 1 : 0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << kind << ": the write must report the full disk";
        std::wstring marker;
        EXPECT_TRUE(storeOf(kind, path).Read(L"Kept", L"marker", marker, L"")) << kind;
        EXPECT_EQ(marker, L"old") << kind;
    }
}

TEST(CrashSafety, AReallyFullFileSystemFailsTheWriteAndKeepsTheOldDocument)
{
    // A file system that is full, not a size limit: only root may mount one.
    ASSERT_EQ(mkdir("small", 0700), 0);
    if (::getuid() != 0 || std::system("mount -t tmpfs -o size=64k tmpfs small 2>/dev/null") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights)";
    struct Unmount
    {
        // Through runProgram: a hardened build will not let std::system's status be ignored.
        ~Unmount() { TestSupport::runProgram("umount", {"small"}); }
    } unmount;
    for (const std::string kind : {"cask", "simple"})
    {
        const std::string path = "small/" + kind + ".dat";
        ASSERT_TRUE(storeOf(kind, path).Write(L"Kept", L"marker", L"old")) << kind;
        {
            // Fill what is left of the file system.
            std::ofstream filler("small/" + kind + "-filler", std::ios::binary);
            const std::string block(4096, 'f');
            for (int i = 0; i < 64 && filler.write(block.data(), block.size()) && filler.flush();
                 ++i)
            {
            }
        }
        EXPECT_FALSE(storeOf(kind, path).Write(L"Kept", L"marker", std::wstring(20000, L'n')))
            << kind << ": the write must report the full disk";
        std::wstring marker;
        EXPECT_TRUE(storeOf(kind, path).Read(L"Kept", L"marker", marker, L"")) << kind;
        EXPECT_EQ(marker, L"old") << kind;
        std::remove(("small/" + kind + "-filler").c_str());
    }
}

TEST(CrashSafety, ChangesThatStoredNothingFail)
{
    ASSERT_EQ(mkdir("a-directory.dat", 0700), 0);
    XmlStore blocked = storeOf("cask", "a-directory.dat");
    EXPECT_FALSE(blocked.Write(L"K", L"v", L"lost"));
    EXPECT_FALSE(blocked.TestWrite(L"K"));

    {
        std::ofstream("plain-file") << "x";
    }
    XmlStore below = storeOf("simple", "plain-file/store.xml");
    EXPECT_FALSE(below.Write(L"K", L"v", L"lost"));
    EXPECT_FALSE(below.DeleteKey(L"K"));
    EXPECT_FALSE(below.TestWrite(L"K"));
}

TEST(CrashSafety, LinksPlantedAtASharedStorePathAreNotFollowed)
{
    ASSERT_EQ(mkdir("shared", 01777), 0);
    // A link to a file that does not exist yet: following it would create the
    // target with the store's world-writable mode. Planted by another user:
    // the links belong to nobody.
    ASSERT_EQ(symlink("../victim-new", "shared/dangling.dat"), 0);
    if (lchown("shared/dangling.dat", 65534, 65534) != 0)
        GTEST_SKIP() << "needs root to give a link to another user";
    XmlStore dangling(boost::make_shared<FileCask>(FileCask::SharedAccess, L"shared/dangling.dat"),
                      0, false);
    EXPECT_FALSE(dangling.Write(L"K", L"v", L"x"));
    struct stat status;
    EXPECT_EQ(lstat("victim-new", &status), -1) << "the link's target was created";

    // A link to an existing file: neither read as the store nor written.
    {
        std::ofstream("victim") << "precious";
    }
    ASSERT_EQ(chmod("victim", 0600), 0);
    ASSERT_EQ(symlink("../victim", "shared/store.xml"), 0);
    ASSERT_EQ(lchown("shared/store.xml", 65534, 65534), 0);
    XmlStore linked(boost::make_shared<SimpleFileCask>(FileCask::SharedAccess, L"shared/store.xml"),
                    0, false);
    linked.Write(L"K", L"v", L"x");
    std::ifstream victim("victim");
    std::string content;
    std::getline(victim, content);
    EXPECT_EQ(content, "precious");
    ASSERT_EQ(stat("victim", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_EQ(lstat("shared/store.xml", &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

TEST(CrashSafety, AUsersOwnLinkIsFollowedAndBothNamesShareOneStore)
{
    // Dotfiles kept in a folder of their own, linked from where the program
    // looks: processes through the link and through the file count together.
    ASSERT_EQ(mkdir("dotfiles", 0700), 0);
    ASSERT_EQ(symlink("dotfiles/store.dat", "linked.dat"), 0);
    const std::string target = TestSupport::testDirectory() + "/dotfiles/store.dat";
    const std::string link = TestSupport::testDirectory() + "/linked.dat";
    ASSERT_TRUE(XmlStore(caskOf("cask", target), 0, false).Write(L"Counter", L"value", 0));
    {
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (const std::string& path : {link, target, link, target})
            children.emplace_back(new ChildProcess({helperProgram(), "add", path, "100"}));
        for (auto& child : children)
            EXPECT_EQ(child->exitCode(), 0);
    }
    struct stat status;
    ASSERT_EQ(lstat("linked.dat", &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link was replaced by a file";
    int value = 0;
    EXPECT_TRUE(
        XmlStore(boost::make_shared<FileCask>(FileCask::PrivateAccess, wide(target)), 0, false)
            .Read(L"Counter", L"value", value, 0));
    EXPECT_EQ(value, 400);

    // A link to a file not made yet: the first save makes it there.
    ASSERT_EQ(symlink("dotfiles/later.xml", "later.xml"), 0);
    XmlStore later(boost::make_shared<SimpleFileCask>(FileCask::PrivateAccess, L"later.xml"), 0,
                   false);
    ASSERT_TRUE(later.Write(L"K", L"v", L"made"));
    ASSERT_EQ(lstat("later.xml", &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_NE(TestSupport::readFile("dotfiles/later.xml").find("made"), std::string::npos);
}

TEST(CrashSafety, AnotherUserCanStillWriteASharedStore)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a process as another user";
    if (access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "setpriv is not installed";
    // The test's own folder is private; the shared folder must be reachable.
    char pattern[] = "/tmp/tessary-shared-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string base = pattern;
    ASSERT_EQ(chmod(base.c_str(), 0755), 0);
    const std::string path = base + "/shared/store.dat";
    {
        XmlStore store(boost::make_shared<FileCask>(FileCask::SharedAccess, wide(path)), 0, false);
        ASSERT_TRUE(store.Write(L"K", L"v", L"by root"));
    }
    // Only the owner may rename over a file in a sticky folder.
    ChildProcess other({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                        helperProgram(), "shared-write", path});
    const int status = other.wait();
    XmlStore store(boost::make_shared<FileCask>(FileCask::SharedAccess, wide(path)), 0, false);
    std::wstring value;
    store.Read(L"K", L"v", value, L"");
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        GTEST_SKIP() << "the helper cannot run as user nobody here";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(value, L"by another user");
}
