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

void make_key()
{
    pthread_key_create(&SemaphoreListKey, DeleteSemaphoreList);
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
