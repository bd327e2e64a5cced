// Collector for SiS processors.
#pragma once

#include "Genericx86DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kSiSNameTable[];
extern const size_t kSiSNameTableSize;

class SiSDataCollector : public Genericx86DataCollector {
public:
    SiSDataCollector();

    // The vendor's fixed cache configuration (it reports no cache leaves).
    void CollectCaches(CPUData& record) override;
};
