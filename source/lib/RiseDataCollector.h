// Collector for Rise processors.
#pragma once

#include "Genericx86DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kRiseNameTable[];
extern const size_t kRiseNameTableSize;

class RiseDataCollector : public Genericx86DataCollector {
public:
    RiseDataCollector();

    // The vendor's fixed cache configuration (it reports no cache leaves).
    void CollectCaches(CPUData& record) override;
};
