// Library-wide queries shared by the exports.
#pragma once

#include "platform/Platform.h"

// Leaf 0 reports a non-zero highest standard leaf. Computed once per process.
bool HasBasicCPUIDLeaves();

// The system-information record, through the entry point taken on first use.
void QuerySystemInfo(platform::SYSTEM_INFO* info);
