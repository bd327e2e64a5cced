#include "TextPrinter.h"

#include "FlagsText.h"
#include "Names.h"
#include "TextFormat.h"

namespace quillinfo {
namespace {

void PrintProcessor(std::ostream& out, const ProcessorSnapshot& p) {
    out << "\nProcessor " << p.logicalIndex << "\n";
    out << "  Vendor:        " << Printable(p.vendorString) << " (id " << p.vendorId << ")\n";
    out << "  Name:          " << (p.name.empty() ? "(none)" : Printable(p.name)) << "\n";
    out << "  Family/model/stepping: " << SignatureText(p) << "\n";
    out << "  APIC id:       " << Hex(p.apicId) << " (initial " << Hex(p.initialApicId) << "), SMT "
        << unsigned{p.smtId} << ", core " << unsigned{p.coreId} << ", package " << unsigned{p.packageId} << "\n";
    out << "  Counts:        " << Count(p.maxLogicalPerPackage, "logical processor", "logical processors")
        << " per package, " << Count(p.coresPerPackage, "core", "cores") << " per package, "
        << Count(p.threadsPerCore, "thread", "threads") << " per core\n";
    if (const CoreTypeNames* kind = CoreTypeNamesOf(p.coreType)) out << "  Core type:     " << kind->name << "\n";
    if (!p.microarchitecture.empty()) out << "  Microarchitecture: " << Printable(p.microarchitecture) << "\n";
    PrintFeatures(out, p.featureBits, "  Features:      ");
    PrintProcessorFlags(out, p.featureFlags);
    out << "  Caches and TLBs:";
    if (p.caches.empty()) out << " none reported";
    out << "\n";
    for (const CacheSnapshot& c : p.caches) out << "    " << DescribeWithSharing(c) << "\n";
    out << "  Hypervisor:    " << HypervisorText(p.hypervisor) << "\n";
}

}  // namespace

void PrintText(const MachineSnapshot& s, std::ostream& out) {
    PrintSystem(s, out);
    if (s.groups.size() > 1) {
        for (const MachineSnapshot& group : s.groups) {
            PrintGroupHeading(group, out);
            for (const ProcessorSnapshot& p : group.processors) PrintProcessor(out, p);
        }
    } else {
        for (const ProcessorSnapshot& p : s.processors) PrintProcessor(out, p);
    }
    PrintReports(s, out);
}

}  // namespace quillinfo
