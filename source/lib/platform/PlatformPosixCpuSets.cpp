// The Linux answers to the kernel services that the shim itself leaves out:
// selected CPU sets, which Linux does not have (the shim gives a thread its
// whole processor set back on its own), the current processor, and the
// thread-local slot, kept in a POSIX thread-specific key, which is read
// without allocating and whose setting fails rather than ending the process.
#include "Platform.h"

#include <pthread.h>
#include <sched.h>

namespace platform {

BOOL GetThreadSelectedCpuSetMasks(HANDLE, GROUP_AFFINITY*, WORD, WORD* required) {
    if (required) *required = 0;
    return 0;
}

BOOL SetThreadSelectedCpuSetMasks(HANDLE, const GROUP_AFFINITY*, WORD) { return 0; }

// Asked only after CPU sets were selected, which never happens here: the
// kernel's number as one of group 0.
void GetCurrentProcessorNumberEx(PROCESSOR_NUMBER* number) {
    const int cpu = sched_getcpu();
    number->Group = 0;
    number->Number = static_cast<uint8_t>(cpu > 0 && cpu < 64 ? cpu : 0);
}

DWORD TlsAlloc() {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) return TLS_OUT_OF_INDEXES;
    return static_cast<DWORD>(key);
}

LPVOID TlsGetValue(DWORD index) { return pthread_getspecific(static_cast<pthread_key_t>(index)); }

BOOL TlsSetValue(DWORD index, LPVOID value) { return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0; }

BOOL TlsFree(DWORD index) { return pthread_key_delete(static_cast<pthread_key_t>(index)) == 0; }

}  // namespace platform
