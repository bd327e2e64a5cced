// Collector for Zhaoxin processors ("  Shanghai  "), a vendor of its own under
// the current rules: the Centaur collector with the caches of leaf 4 and the
// place of the processor from leaf 0xB.
#pragma once

#include "CentaurDataCollector.h"

class ZhaoxinDataCollector : public CentaurDataCollector {
public:
    // Leaf 0xB as well, on a package that runs more than one thread.
    bool IsReservedCPUIDFunc(uint32_t leaf) override;
    // The Centaur flags, with multi-threading as leaf 1 reports it: these
    // packages hold several cores.
    void CollectFeatures(CPUData& record) override;
    // Address widths, then SMT, core and package ids from leaf 0xB.
    void CollectTopology(CPUData& record) override;
};
