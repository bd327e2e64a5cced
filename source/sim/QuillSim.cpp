// The C control API of the simulated machine. Nothing may escape through the
// C boundary, so every call that can allocate catches everything.
#include <quill/QuillSim.h>

#include "CPUIDTable.h"
#include "DumpLoader.h"
#include "SimMachine.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kOk = 0;
constexpr int kFailed = -1;

void WriteError(const char* message, std::size_t size, char* error, uint32_t errorSize) {
    if (error == nullptr || errorSize == 0) {
        return;
    }
    const std::size_t length = size < errorSize - 1 ? size : errorSize - 1;
    std::memcpy(error, message, length);
    error[length] = '\0';
}

void WriteError(const std::string& message, char* error, uint32_t errorSize) {
    WriteError(message.data(), message.size(), error, errorSize);
}

// "<path>: <reason>" without allocating (for the out-of-memory path). Control
// characters in the path are not filtered here; names are printable in
// practice and the message is a last resort.
void WriteErrorNoAlloc(const char* path, const char* reason, char* error, uint32_t errorSize) {
    if (error == nullptr || errorSize == 0) {
        return;
    }
    std::size_t used = 0;
    for (const char* part : {path != nullptr ? path : "(no file)", ": ", reason}) {
        for (; *part != '\0' && used + 1 < errorSize; ++part) {
            error[used++] = *part;
        }
    }
    error[used] = '\0';
}

}  // namespace

QUILL_SIM_API int QuillSimLoadDump(const char* path, char* error, uint32_t errorSize) {
    try {
        std::vector<sim::CPUIDTable> processors;
        std::string message;
        if (!sim::DumpLoader::Load(path, processors, message)) {
            WriteError(message, error, errorSize);
            return kFailed;
        }
        if (!sim::SimMachine::Instance().Replace(std::move(processors))) {
            WriteError(std::string(path) + ": no processors", error, errorSize);
            return kFailed;
        }
        WriteError(std::string(), error, errorSize);
        return kOk;
    } catch (...) {
        WriteErrorNoAlloc(path, "out of memory while loading", error, errorSize);
        return kFailed;
    }
}

QUILL_SIM_API int QuillSimCreateMachine(uint32_t count) {
    try {
        return sim::SimMachine::Instance().Create(count) ? kOk : kFailed;
    } catch (...) {
        return kFailed;
    }
}

QUILL_SIM_API uint32_t QuillSimNumProcessors(void) { return sim::SimMachine::Instance().NumProcessors(); }

QUILL_SIM_API int QuillSimSetCPUID(uint32_t processor, uint32_t leaf, uint32_t subleaf, uint32_t eax, uint32_t ebx,
                                   uint32_t ecx, uint32_t edx) {
    sim::CPUIDTable* table = sim::SimMachine::Instance().Table(processor);
    if (table == nullptr) {
        return kFailed;
    }
    try {
        table->Set(leaf, subleaf, sim::CPUIDRegs{eax, ebx, ecx, edx});
        return kOk;
    } catch (...) {
        return kFailed;
    }
}

QUILL_SIM_API int QuillSimClearCPUID(uint32_t processor, uint32_t leaf, uint32_t subleaf) {
    sim::CPUIDTable* table = sim::SimMachine::Instance().Table(processor);
    if (table == nullptr) {
        return kFailed;
    }
    table->Remove(leaf, subleaf);
    return kOk;
}

QUILL_SIM_API int QuillSimCopyProcessor(uint32_t from, uint32_t to) {
    sim::SimMachine& machine = sim::SimMachine::Instance();
    sim::CPUIDTable* source = machine.Table(from);
    sim::CPUIDTable* target = machine.Table(to);
    if (source == nullptr || target == nullptr) {
        return kFailed;
    }
    try {
        *target = *source;
        return kOk;
    } catch (...) {
        return kFailed;
    }
}

// Returns 1 when the answer is stored, 0 (registers zeroed) when it is not.
QUILL_SIM_API int QuillSimGetCPUID(uint32_t processor, uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
    sim::CPUIDRegs found;
    const sim::CPUIDTable* table = sim::SimMachine::Instance().Table(processor);
    const bool present = table != nullptr && table->Find(leaf, subleaf, found);
    if (regs != nullptr) {
        regs[0] = found.eax;
        regs[1] = found.ebx;
        regs[2] = found.ecx;
        regs[3] = found.edx;
    }
    return present ? 1 : 0;
}

QUILL_SIM_API uint32_t QuillSimNumGroups(void) { return sim::SimMachine::Instance().NumGroups(); }

QUILL_SIM_API uint32_t QuillSimGroupSize(uint32_t group) { return sim::SimMachine::Instance().GroupSize(group); }

QUILL_SIM_API int QuillSimSetThreadGroup(uint32_t group) {
    sim::SimMachine& machine = sim::SimMachine::Instance();
    uint16_t previousGroup = 0;
    uint64_t previous = 0;
    uint32_t error = 0;
    return group < machine.NumGroups() && machine.SetThreadGroupAffinity(static_cast<uint16_t>(group),
                                                                          machine.ProcessMask(group), previousGroup,
                                                                          previous, error)
               ? kOk
               : kFailed;
}

QUILL_SIM_API uint32_t QuillSimThreadGroup(void) { return sim::SimMachine::Instance().ThreadGroup(); }

QUILL_SIM_API void QuillSimSetSystemInfo(uint32_t count, uint64_t activeMask) {
    sim::SimMachine::Instance().SetSystemInfo(count, activeMask);
}

QUILL_SIM_API void QuillSimSetProcessMask(uint64_t mask) { sim::SimMachine::Instance().SetProcessMask(mask); }

QUILL_SIM_API void QuillSimSetCurrentProcessor(uint32_t processor) {
    sim::SimMachine::Instance().SetCurrentProcessor(processor);
}

QUILL_SIM_API uint32_t QuillSimCurrentProcessor(void) { return sim::SimMachine::Instance().CurrentProcessor(); }

QUILL_SIM_API uint64_t QuillSimThreadAffinity(void) { return sim::SimMachine::Instance().ThreadAffinity(); }

QUILL_SIM_API void QuillSimSpanGroups(void) { sim::SimMachine::Instance().SpanGroups(); }

QUILL_SIM_API int QuillSimThreadSpansGroups(void) { return sim::SimMachine::Instance().SpansGroups() ? 1 : 0; }

QUILL_SIM_API void QuillSimSetHasCpuSets(int has) { sim::SimMachine::Instance().SetHasCpuSets(has != 0); }

QUILL_SIM_API int QuillSimSetThreadAffinity(uint64_t mask) {
    uint64_t previous = 0;
    uint32_t error = 0;
    return sim::SimMachine::Instance().SetThreadAffinity(mask, previous, error) ? kOk : kFailed;
}

QUILL_SIM_API int QuillSimSetXCR0(uint32_t processor, uint64_t xcr0) {
    return sim::SimMachine::Instance().XState().SetXCR0(processor, xcr0) ? kOk : kFailed;
}

QUILL_SIM_API void QuillSimSetAMXPermission(int granted) {
    sim::SimMachine::Instance().XState().SetAMXPermission(granted != 0);
}

QUILL_SIM_API void QuillSimRefuseMoveTo(uint32_t processor, uint32_t errorCode) {
    sim::SimMachine::Instance().Faults().RefuseMoveTo(processor, errorCode);
}

QUILL_SIM_API void QuillSimFailProcessMaskQuery(uint32_t errorCode) {
    sim::SimMachine::Instance().Faults().FailProcessMaskQuery(errorCode);
}

QUILL_SIM_API void QuillSimFailSetThreadPriority(int fail) {
    sim::SimMachine::Instance().Faults().FailSetThreadPriority(fail != 0);
}

QUILL_SIM_API void QuillSimFailTlsSetValue(int fail) {
    sim::SimMachine::Instance().Faults().FailTlsSetValue(fail != 0);
}

QUILL_SIM_API void QuillSimClearFaults(void) { sim::SimMachine::Instance().Faults().Clear(); }

QUILL_SIM_API uint64_t QuillSimCPUIDCount(void) { return sim::SimMachine::Instance().Counters().CPUID(); }

QUILL_SIM_API uint64_t QuillSimCPUIDCountOn(uint32_t processor) {
    return sim::SimMachine::Instance().Counters().CPUIDOn(processor);
}

QUILL_SIM_API uint64_t QuillSimAffinityCallCount(void) { return sim::SimMachine::Instance().Counters().AffinityCalls(); }

QUILL_SIM_API uint64_t QuillSimYieldCount(void) { return sim::SimMachine::Instance().Counters().Yields(); }

QUILL_SIM_API void QuillSimResetCounters(void) { sim::SimMachine::Instance().Counters().Reset(); }
