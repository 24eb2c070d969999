#include "tests/support/ChildProcess.h"

#include <filecask/FileLocker.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <thread>

using TestSupport::ChildProcess;
using TestSupport::helperProgram;

using Preference::FileLocker;

namespace
{
// A fresh file may reuse the inode, and so the key, of a file whose last
// locker died: such a leftover set is garbage and would only add a log line.
std::string makeFile(const std::string& name)
{
    std::ofstream(name) << "x";
    const int leftover = semget(ftok(name.c_str(), 59), 0, 0);
    if (leftover != -1)
        semctl(leftover, 0, IPC_RMID);
    return name;
}

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

key_t keyOf(const std::string& path)
{
    return ftok(path.c_str(), 59);
}

// The file's semaphore set, or -1 when none exists.
int setOf(const std::string& path)
{
    return semget(keyOf(path), 3, 0);
}

int valueOf(const std::string& path, int index)
{
    return semctl(setOf(path), index, GETVAL);
}

// Waits until someone blocks on the file's lock semaphore; false when that
// never happens within a generous limit (the waiter died or got the lock).
bool waitForWaiter(const std::string& path)
{
    for (int i = 0; i < 6000; ++i)
    {
        if (semctl(setOf(path), 0, GETNCNT) > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}
} // namespace

TEST(FileLocker, MissingFileGivesALockerThatNeverLocks)
{
    FileLocker locker(L"no-such-file");
    EXPECT_FALSE(locker.IsValid());
    EXPECT_FALSE(locker.Lock());
    EXPECT_FALSE(locker.IsLocked());
    EXPECT_NE(locker.GetLastError().find(L"Failed to lock semaphore: -1 "), std::wstring::npos);
}

TEST(FileLocker, NestedLocksInOneThreadHoldTheFileUntilTheLastUnlock)
{
    const std::string path = makeFile("nested");
    FileLocker outer(wide(path));
    FileLocker inner(wide(path));
    ASSERT_TRUE(outer.IsValid());
    EXPECT_EQ(valueOf(path, 1), 2) << "both lockers are attached";

    ASSERT_TRUE(outer.Lock());
    EXPECT_EQ(valueOf(path, 0), 0);
    ASSERT_TRUE(inner.Lock()) << "the second lock of the same thread must not wait";
    EXPECT_TRUE(inner.IsLocked());
    outer.Unlock();
    EXPECT_FALSE(outer.IsLocked());
    EXPECT_EQ(valueOf(path, 0), 0) << "released before the last unlock";
    inner.Unlock();
    EXPECT_EQ(valueOf(path, 0), 1);

    // One locker locked twice needs two unlocks, and both count.
    ASSERT_TRUE(outer.Lock());
    ASSERT_TRUE(outer.Lock());
    outer.Unlock();
    EXPECT_TRUE(outer.IsLocked());
    EXPECT_EQ(valueOf(path, 0), 0);
    outer.Unlock();
    EXPECT_EQ(valueOf(path, 0), 1);
}

TEST(FileLocker, LastLockerTakesTheSemaphoreSetAway)
{
    const std::string path = makeFile("last");
    {
        auto first = std::make_unique<FileLocker>(wide(path));
        {
            FileLocker second(wide(path));
            ASSERT_TRUE(second.Lock());
            EXPECT_NE(setOf(path), -1);
        }
        // A locker destroyed while locked gives the lock back.
        EXPECT_EQ(valueOf(path, 0), 1);
        EXPECT_EQ(valueOf(path, 1), 1);
        ASSERT_TRUE(first->Lock());
        first.reset();
    }
    EXPECT_EQ(setOf(path), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(FileLocker, AnotherThreadWaitsForTheLock)
{
    const std::string path = makeFile("threads");
    FileLocker locker(wide(path));
    ASSERT_TRUE(locker.Lock());
    std::atomic<bool> gotIt{false};
    std::thread other(
        [&]
        {
            FileLocker own(wide(path));
            if (own.Lock())
                gotIt = true;
            own.Unlock();
        });
    ASSERT_TRUE(waitForWaiter(path));
    EXPECT_FALSE(gotIt);
    locker.Unlock();
    other.join();
    EXPECT_TRUE(gotIt);
}

TEST(FileLocker, SecondProcessWaitsUntilTheFirstUnlocks)
{
    const std::string path = makeFile("processes");
    FileLocker locker(wide(path));
    ASSERT_TRUE(locker.Lock());

    // The helper asks with a zero timeout: it must wait all the same.
    ChildProcess child({helperProgram(), "lock", path, "try0"});
    ASSERT_TRUE(waitForWaiter(path));
    EXPECT_FALSE(child.hasOutput()) << "the second process got a held lock";

    locker.Unlock();
    EXPECT_EQ(child.readLine(), "locked");
    EXPECT_EQ(valueOf(path, 0), 0);
    child.writeLine("release");
    EXPECT_EQ(child.readLine(), "unlocked");
    const int status = child.wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(valueOf(path, 1), 1) << "the helper detached on its way out";
}

TEST(FileLocker, KilledHolderDoesNotBlockTheOthers)
{
    const std::string path = makeFile("killed");
    FileLocker locker(wide(path));
    ChildProcess child({helperProgram(), "lock", path});
    ASSERT_EQ(child.readLine(), "locked");
    EXPECT_EQ(valueOf(path, 0), 0);
    EXPECT_EQ(valueOf(path, 1), 2);

    child.kill(SIGKILL);
    const int status = child.wait();
    ASSERT_TRUE(WIFSIGNALED(status));

    // The kernel undid the dead process's lock and attach.
    ASSERT_EQ(valueOf(path, 0), 1) << "the dead holder still holds the file";
    EXPECT_EQ(valueOf(path, 1), 1);
    ASSERT_TRUE(locker.Lock());
    locker.Unlock();
}

TEST(FileLocker, KilledSoleHolderLeavesASetThatIsReplaced)
{
    const std::string path = makeFile("killed-alone");
    {
        ChildProcess child({helperProgram(), "lock", path});
        ASSERT_EQ(child.readLine(), "locked");
        child.kill(SIGKILL);
        ASSERT_TRUE(WIFSIGNALED(child.wait()));
    }
    const int leftover = setOf(path);
    ASSERT_NE(leftover, -1);
    EXPECT_EQ(valueOf(path, 0), 1);
    EXPECT_EQ(valueOf(path, 1), 0);

    {
        FileLocker locker(wide(path));
        ASSERT_TRUE(locker.IsValid());
        EXPECT_EQ(locker.GetLastError(), L"Weird semaphore, killing! -1 1 \n");
        ASSERT_TRUE(locker.Lock());
        locker.Unlock();
    }
    EXPECT_EQ(setOf(path), -1);
}

TEST(FileLocker, LeftoverSetsAreReplaced)
{
    const std::string path = makeFile("leftover");
    // A set of the right size whose count is 0, as a crash leaves it: used, so
    // not one that its creator is still making ready.
    const int stale = semget(keyOf(path), 3, IPC_CREAT | IPC_EXCL | 0666);
    ASSERT_NE(stale, -1);
    sembuf used = {2, 1, 0};
    ASSERT_EQ(semop(stale, &used, 1), 0);
    {
        FileLocker locker(wide(path));
        ASSERT_TRUE(locker.IsValid());
        EXPECT_EQ(locker.GetLastError(), L"Weird semaphore, killing! -1 0 \n");
        EXPECT_NE(setOf(path), stale);
        EXPECT_EQ(valueOf(path, 1), 1);
        ASSERT_TRUE(locker.Lock());
        locker.Unlock();
    }
    EXPECT_EQ(setOf(path), -1);

    // A set of another size under the same key.
    ASSERT_NE(semget(keyOf(path), 1, IPC_CREAT | IPC_EXCL | 0666), -1);
    {
        FileLocker locker(wide(path));
        ASSERT_TRUE(locker.IsValid());
        EXPECT_EQ(locker.GetLastError(), L"Old semaphore, killing!\n");
        ASSERT_TRUE(locker.Lock());
        locker.Unlock();
    }
    EXPECT_EQ(setOf(path), -1);
}

TEST(FileLocker, LockersMadeAtTheSameMomentAllWork)
{
    // Each round, several threads make the first lockers of a new file at once:
    // none may find the set before its creator has made it ready.
    const int threads = 6;
    int failures = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int round = 0; round < 150 && std::chrono::steady_clock::now() < deadline; ++round)
    {
        const std::string path = makeFile("race" + std::to_string(round % 3));
        std::atomic<int> waiting{threads};
        std::atomic<int> failed{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back(
                [&]
                {
                    --waiting;
                    while (waiting > 0)
                        std::this_thread::yield();
                    FileLocker locker(wide(path));
                    for (int i = 0; i < 3; ++i)
                    {
                        if (!locker.Lock())
                        {
                            ++failed;
                            return;
                        }
                        locker.Unlock();
                    }
                });
        for (std::thread& worker : workers)
            worker.join();
        failures += failed;
        EXPECT_EQ(setOf(path), -1) << "round " << round;
    }
    EXPECT_EQ(failures, 0);
}

TEST(FileLocker, AChildForkedWhileTheParentHoldsTheLockWaitsForIt)
{
    const std::string path = makeFile("forked");
    FileLocker locker(wide(path));
    ASSERT_TRUE(locker.Lock());
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        // The parent's hold is not the child's: this must wait for the parent.
        FileLocker mine(wide(path));
        _exit(mine.Lock() ? 0 : 2);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the child got the lock the parent holds";
    locker.Unlock();
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
