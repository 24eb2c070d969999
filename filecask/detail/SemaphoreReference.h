#pragma once

#include <map>

namespace Preference
{
namespace detail
{

// One thread's hold on one semaphore set: the lock depth makes the file lock
// reentrant for the thread, shared by all of its lockers of the same file.
struct SemaphoreReference
{
    int m_lSemaphoreId = -1;
    int m_lDepth = 0;
};

typedef std::map<int, SemaphoreReference> SemaphoreList;

// The calling thread's registry, created on first use and deleted when the
// thread ends.
SemaphoreList& ThreadSemaphoreList();

} // namespace detail
} // namespace Preference
