// Collector for NexGen processors.
#pragma once

#include "Genericx86DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kNexGenNameTable[];
extern const size_t kNexGenNameTableSize;

class NexGenDataCollector : public Genericx86DataCollector {
public:
    NexGenDataCollector();

    // The vendor's fixed cache configuration (it reports no cache leaves).
    void CollectCaches(CPUData& record) override;
};
