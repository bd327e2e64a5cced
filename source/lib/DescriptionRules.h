// Which rules describe processors: those this library has always followed
// (the default), or those that fit current processors, chosen by the host.
#pragma once

#include <cstdint>

// The host asked for the current-processor rules.
bool UseCurrentRules();
