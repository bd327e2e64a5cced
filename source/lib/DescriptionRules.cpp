#include "DescriptionRules.h"

#include <quill/Quill.h>

#include "Quill.h"
#include "QuillPlatform.h"

#include <atomic>

QUILL_REVISION("$Id: DescriptionRules.cpp $");

namespace {
std::atomic<uint32_t> s_descriptionRules{kQuillRulesClassic};
}  // namespace

bool UseCurrentRules() { return s_descriptionRules.load(std::memory_order_relaxed) == kQuillRulesCurrent; }

extern "C" QUILL_API uint32_t SetQuillDescriptionRules(uint32_t rules) {
    const uint32_t previous = s_descriptionRules.load(std::memory_order_relaxed);
    if (rules != kQuillRulesClassic && rules != kQuillRulesCurrent) {
        QUILL_REPORT(kSeverityError, "SetQuillDescriptionRules: Unsupported description rules. Rules unchanged.");
        return previous;
    }
    if (rules != previous) {
        s_descriptionRules.store(rules, std::memory_order_relaxed);
        // Package, core and processor ids entered under other rules would
        // mix with the new ones.
        TopologyCache::ClearAll();
    }
    return previous;
}
