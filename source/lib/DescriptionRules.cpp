#include "DescriptionRules.h"

#include <quill/Quill.h>

#include "QuillPlatform.h"

#include <atomic>

QUILL_REVISION("$Id: DescriptionRules.cpp $");

namespace {
// Written by the host from any thread; read when a collection starts.
std::atomic<uint32_t> s_requestedRules{kQuillRulesClassic};
// Written when a collection starts and read by that collection, one at a
// time; atomic so that a read from elsewhere is never torn.
std::atomic<uint32_t> s_rulesInForce{kQuillRulesClassic};
}  // namespace

uint32_t RequestedRules() { return s_requestedRules.load(std::memory_order_relaxed); }

bool UseCurrentRules() { return s_rulesInForce.load(std::memory_order_relaxed) == kQuillRulesCurrent; }

void PutRulesInForce(uint32_t rules) { s_rulesInForce.store(rules, std::memory_order_relaxed); }

extern "C" QUILL_API uint32_t SetQuillDescriptionRules(uint32_t rules) {
    if (rules != kQuillRulesClassic && rules != kQuillRulesCurrent) {
        QUILL_REPORT(kSeverityError, "SetQuillDescriptionRules: Unsupported description rules. Rules unchanged.");
        return RequestedRules();
    }
    // The next collection puts them in force and forgets the topology
    // learnt under other rules (CollectionScope).
    return s_requestedRules.exchange(rules, std::memory_order_relaxed);
}
