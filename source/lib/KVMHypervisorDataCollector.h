// KVM: its leaves carry no version, so it is described as 2.6.
#pragma once

#include "x86HypervisorDataCollector.h"

class KVMHypervisorDataCollector : public x86HypervisorDataCollector {
public:
    KVMHypervisorDataCollector();

    int32_t FillDescription(HypervisorInfo& info) override;
};
