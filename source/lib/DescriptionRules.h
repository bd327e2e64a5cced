// Which rules describe processors: those this library has always followed
// (the default), or those that fit current processors, chosen by the host.
// The host's choice may change at any time; a collection follows the rules
// in force when it started (CollectionScope.h) to its end.
#pragma once

#include <cstdint>

// The rules the host asked for last.
uint32_t RequestedRules();

// The collection in progress describes by the current-processor rules.
bool UseCurrentRules();

// Puts rules in force, at the start of a collection.
void PutRulesInForce(uint32_t rules);
