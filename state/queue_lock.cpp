// A statically initialised recursive mutex: trivially destructible, so safe while exit runs.
#include "state/queue_lock.h"

#include <pthread.h>

namespace {
pthread_mutex_t g_queueMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
}

void QueueLock() { pthread_mutex_lock(&g_queueMutex); }
void QueueUnlock() { pthread_mutex_unlock(&g_queueMutex); }
