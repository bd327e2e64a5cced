// Makes the compiler lay out the slot table of every description interface:
// defining a constructor of a class derived from each emits the tables.
// Only the interfaces are needed, so the feature set class stays a name and
// no C++ standard library is required for the target.
#define QUILL_PROCESSORFEATURES_H
class ProcessorFeatures;
#include <quill/CPUDescription.h>
#include <quill/MachineDescription.h>

struct MachineProbe : MachineDescription { MachineProbe(); };
MachineProbe::MachineProbe() = default;
struct CPUProbe : CPUDescriptionExtended { CPUProbe(); };
CPUProbe::CPUProbe() = default;
struct CacheProbe : CacheDescriptionExtended { CacheProbe(); };
CacheProbe::CacheProbe() = default;
struct HypervisorProbe : HypervisorDescription { HypervisorProbe(); };
HypervisorProbe::HypervisorProbe() = default;
