// A constructor of a class derived from each description interface makes the
// compiler lay out its slot table. The feature set stays a name: no standard
// library is needed for the target.
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
