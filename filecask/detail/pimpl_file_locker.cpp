#include "pimpl_file_locker.h"

#include "SemaphoreReference.h"
#include "preference/detail/Utf8.h"

#include <cerrno>
#include <chrono>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <thread>

namespace Preference
{
namespace detail
{
namespace
{
const int kProjectId = 59;
const int kAttempts = 100;

enum
{
    LockSemaphoreIndex = 0,
    CountSemaphoreIndex = 1,
    GuardSemaphoreIndex = 2,
    SemaphoreCount = 3
};

// Linux leaves the definition of semctl's fourth argument to its callers.
union semun
{
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

// A signal arriving while semop waits is not a reason to give up the wait.
int SemOp(int id, sembuf* operations, size_t count)
{
    int result;
    do
        result = semop(id, operations, count);
    while (result == -1 && errno == EINTR);
    return result;
}

int GetValue(int id, int index)
{
    return semctl(id, index, GETVAL);
}

enum class SetState
{
    Ready,    // its creator has attached, so its values mean something
    Removed,  // gone meanwhile; look again
    Abandoned // its creator died between creating and attaching
};

// A new set holds zeros until its creator's first semop, which also sets
// sem_otime: until then a count of 0 does not mean that nobody uses it.
SetState WaitUntilReady(int id)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;)
    {
        semid_ds status;
        semun arg;
        arg.buf = &status;
        if (semctl(id, 0, IPC_STAT, arg) == -1)
            return SetState::Removed;
        if (status.sem_otime != 0)
            return SetState::Ready;
        if (std::chrono::steady_clock::now() >= deadline)
            return SetState::Abandoned;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}
} // namespace

pimpl_file_locker::pimpl_file_locker(const std::wstring& path) : m_sPath(path)
{
    m_lSemaphoreFlags = SEM_UNDO;
    const std::string utf8 = ToUtf8(path);
    // Whoever may not touch the file has no business holding its lock either:
    // a private file gets a private set, so no other user can block it.
    struct stat status;
    if (::stat(utf8.c_str(), &status) == 0 && (status.st_mode & 0066) == 0)
        m_lSemaphoreMode = 0600;
    m_lSemaphoreId = GetSemaphore(ftok(utf8.c_str(), kProjectId));
}

pimpl_file_locker::~pimpl_file_locker()
{
    while (m_bLocked)
        Unlock();
    ReleaseSemaphore();
}

int pimpl_file_locker::GetSemaphore(key_t key)
{
    ThreadSemaphoreList();
    if (key == -1)
        return -1;

    for (int outer = 1; outer <= kAttempts; ++outer)
    {
        int id = -1;
        bool created = false;
        for (int inner = 1;; ++inner)
        {
            bool create = false;
            id = semget(key, SemaphoreCount, 0);
            const SetState state = id == -1 ? SetState::Ready : WaitUntilReady(id);
            if (state == SetState::Removed)
            {
                if (inner >= kAttempts)
                {
                    m_log << L"Emergency infinite loop exit!" << L'\n';
                    return -1;
                }
                continue;
            }
            if (id != -1)
            {
                const int lockValue = GetValue(id, LockSemaphoreIndex);
                const int count = GetValue(id, CountSemaphoreIndex);
                // Every live locker is counted (with undo), so a ready set with
                // a count of 0 is one that crashed processes left behind.
                if (state == SetState::Ready && count != 0 && (lockValue == 0 || lockValue == 1))
                    break;
                // Left behind by a process that never detached: start afresh.
                if (semctl(id, 0, IPC_RMID) == 0)
                {
                    m_log << L"Weird semaphore, killing! " << -1 << L' ' << lockValue << L' '
                          << L'\n';
                    create = true;
                }
                else
                {
                    // Someone else's set that we may not remove: make it usable.
                    if (errno == EPERM && count == 0)
                    {
                        unsigned short values[SemaphoreCount] = {1, 1, 1};
                        semun arg;
                        arg.array = values;
                        semctl(id, 0, SETALL, arg);
                    }
                    break;
                }
            }
            else if (errno == ENOENT)
            {
                create = true;
            }
            else if (errno == EINVAL)
            {
                // A set of another size under our key, from an older layout.
                const int old = semget(key, 1, 0);
                if (old == -1)
                    return -1;
                semctl(old, 0, IPC_RMID);
                m_log << L"Old semaphore, killing!" << L'\n';
                create = true;
            }
            else
            {
                m_log << L"Failed to open semaphore: " << errno << L'\n';
                return -1;
            }

            if (create)
            {
                id = semget(key, SemaphoreCount, IPC_CREAT | IPC_EXCL | m_lSemaphoreMode);
                if (id != -1)
                {
                    created = true;
                    if (inner >= kAttempts)
                        m_log << L"Emergency infinite loop exit!" << L'\n';
                    break;
                }
                if (errno == ENOSPC)
                {
                    m_log << L"Can't create new semaphore set. System limit exceeded." << L'\n';
                    return -1;
                }
                if (errno == EEXIST && inner < kAttempts)
                    continue;
                if (inner >= kAttempts)
                    m_log << L"Emergency infinite loop exit!" << L'\n';
                return -1;
            }
        }

        SemaphoreList& list = ThreadSemaphoreList();
        list[id].m_lSemaphoreId = id;
        if (RetainSemaphore(id, created))
        {
            if (outer >= kAttempts)
                m_log << L"Emergency infinite loop exit!" << L'\n';
            return id;
        }
        // The set went away between finding and attaching; look again.
        if (list[id].m_lDepth <= 0)
            list.erase(id);
    }
    m_log << L"Emergency infinite loop exit!" << L'\n';
    return -1;
}

bool pimpl_file_locker::RetainSemaphore(int id, bool created)
{
    if (created)
    {
        // The creator's lock and guard values belong to the set, not to the
        // creator, so they are not undone when it ends; its attach is.
        sembuf operations[3] = {
            {LockSemaphoreIndex, 1, 0},
            {CountSemaphoreIndex, 1, static_cast<short>(m_lSemaphoreFlags)},
            {GuardSemaphoreIndex, 1, 0},
        };
        return SemOp(id, operations, 3) == 0;
    }
    sembuf operations[3] = {
        {GuardSemaphoreIndex, -1, 0},
        {CountSemaphoreIndex, 1, static_cast<short>(m_lSemaphoreFlags)},
        {GuardSemaphoreIndex, 1, 0},
    };
    return SemOp(id, operations, 3) == 0;
}

void pimpl_file_locker::ReleaseSemaphore()
{
    if (m_lSemaphoreId == -1)
        return;
    const int id = m_lSemaphoreId;
    m_lSemaphoreId = -1;

    SemaphoreList& list = ThreadSemaphoreList();
    auto it = list.find(id);
    if (it != list.end() && it->second.m_lDepth <= 0)
        list.erase(it);

    // The guard is held with undo too: a process killed here must not leave
    // every later attach waiting for it.
    const short flags = static_cast<short>(m_lSemaphoreFlags);
    sembuf take = {GuardSemaphoreIndex, -1, flags};
    if (SemOp(id, &take, 1) == -1)
        return;
    sembuf detach = {CountSemaphoreIndex, -1, static_cast<short>(IPC_NOWAIT | flags)};
    SemOp(id, &detach, 1);
    if (GetValue(id, CountSemaphoreIndex) > 0)
    {
        sembuf give = {GuardSemaphoreIndex, 1, flags};
        SemOp(id, &give, 1);
    }
    else
    {
        // The last locker of the file takes the set away with it.
        semctl(id, 0, IPC_RMID);
    }
}

bool pimpl_file_locker::LockSemaphore()
{
    if (m_lSemaphoreId == -1)
    {
        errno = EINVAL;
        return false;
    }
    SemaphoreReference& reference = ThreadSemaphoreList()[m_lSemaphoreId];
    reference.m_lSemaphoreId = m_lSemaphoreId;
    if (reference.m_lDepth > 0)
    {
        ++reference.m_lDepth;
        return true;
    }
    sembuf take = {LockSemaphoreIndex, -1, static_cast<short>(m_lSemaphoreFlags)};
    if (SemOp(m_lSemaphoreId, &take, 1) == -1)
        return false;
    reference.m_lDepth = 1;
    return true;
}

void pimpl_file_locker::UnlockSemaphore()
{
    SemaphoreList& list = ThreadSemaphoreList();
    auto it = list.find(m_lSemaphoreId);
    if (it == list.end() || it->second.m_lDepth <= 0)
        return;
    if (--it->second.m_lDepth == 0)
    {
        sembuf give = {LockSemaphoreIndex, 1, static_cast<short>(IPC_NOWAIT | m_lSemaphoreFlags)};
        SemOp(m_lSemaphoreId, &give, 1);
    }
}

bool pimpl_file_locker::Lock()
{
    const bool locked = LockSemaphore();
    if (locked)
    {
        ++m_lOwnDepth;
    }
    else
    {
        const int error = errno;
        m_log << L"Failed to lock semaphore: " << m_lSemaphoreId << L' ' << error << L'\n';
    }
    m_bLocked = m_lOwnDepth > 0;
    return locked;
}

void pimpl_file_locker::Unlock()
{
    if (!m_bLocked)
        return;
    UnlockSemaphore();
    --m_lOwnDepth;
    m_bLocked = m_lOwnDepth > 0;
}

} // namespace detail
} // namespace Preference
