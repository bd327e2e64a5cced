// Collector for Vortex86 processors.
#pragma once

#include "Genericx86DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kVortex86NameTable[];
extern const size_t kVortex86NameTableSize;

class Vortex86DataCollector : public Genericx86DataCollector {
public:
    Vortex86DataCollector();

    // The vendor's fixed cache configuration (it reports no cache leaves).
    void CollectCaches(CPUData& record) override;
};
