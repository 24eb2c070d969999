#include "SemaphoreReference.h"

#include <pthread.h>

namespace Preference
{
namespace detail
{
namespace
{
pthread_key_t SemaphoreListKey;
pthread_once_t SemaphoreListOnce = PTHREAD_ONCE_INIT;

void DeleteSemaphoreList(void* list)
{
    delete static_cast<SemaphoreList*>(list);
}

// A child forked while its parent holds file locks gets a copy of the forking
// thread's registry, but not the locks: they stay the parent's. Forgetting the
// depths makes the child wait for the lock like any other process.
void ForgetParentsLocks()
{
    if (auto* list = static_cast<SemaphoreList*>(pthread_getspecific(SemaphoreListKey)))
        list->clear();
}

void make_key()
{
    pthread_key_create(&SemaphoreListKey, DeleteSemaphoreList);
    pthread_atfork(nullptr, nullptr, ForgetParentsLocks);
}
} // namespace

SemaphoreList& ThreadSemaphoreList()
{
    pthread_once(&SemaphoreListOnce, make_key);
    auto* list = static_cast<SemaphoreList*>(pthread_getspecific(SemaphoreListKey));
    if (!list)
    {
        list = new SemaphoreList;
        pthread_setspecific(SemaphoreListKey, list);
    }
    return *list;
}

} // namespace detail
} // namespace Preference
