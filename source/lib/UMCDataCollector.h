// Collector for UMC processors.
#pragma once

#include "Genericx86DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kUMCNameTable[];
extern const size_t kUMCNameTableSize;

class UMCDataCollector : public Genericx86DataCollector {
public:
    UMCDataCollector();

    // The vendor's fixed cache configuration (it reports no cache leaves).
    void CollectCaches(CPUData& record) override;
};
