// Extended register state on Linux: XCR0, and the permission the kernel asks
// of a process before it uses AMX tile data.
#include "Platform.h"
#include "XGETBV.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kArchGetXcompPerm = 0x1022;  // ARCH_GET_XCOMP_PERM
// The components a process must ask for (XTILE_DATA).
constexpr uint64_t kComponentsAskedFor = uint64_t(1) << 18;

}  // namespace

uint64_t GetEnabledXStateFeatures() { return ExecuteXGETBV(0); }

uint64_t GetPermittedXStateFeatures(uint64_t features) {
    if ((features & kComponentsAskedFor) == 0) return features;
    uint64_t permitted = 0;
    // A kernel without the call has no component that needs asking for.
    if (syscall(SYS_arch_prctl, kArchGetXcompPerm, &permitted) != 0) return features;
    return features & (permitted | ~kComponentsAskedFor);
}

}  // namespace platform
