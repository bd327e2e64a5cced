#include "CollectionScope.h"

#include <quill/QuillTypes.h>

#include "DescriptionRules.h"
#include "Quill.h"
#include "QuillPlatform.h"
#include "platform/Platform.h"

#include <atomic>

QUILL_REVISION("$Id: CollectionScope.cpp $");

namespace {
// Requests to forget, counted; from any thread.
std::atomic<uint32_t> s_clearRequests{0};

// The collecting thread's: how deep it is in scopes, and the rules and the
// request count the topology caches were last emptied under.
uint32_t s_depth = 0;
uint32_t s_topologyRules = kQuillRulesClassic;
uint32_t s_clearRequestsSeen = 0;
}  // namespace

CollectionScope::CollectionScope() {
    platform::BeginProcessorSnapshot();
    if (s_depth++ != 0) return;
    const uint32_t rules = RequestedRules();
    const uint32_t requests = s_clearRequests.load(std::memory_order_relaxed);
    if (rules != s_topologyRules || requests != s_clearRequestsSeen) {
        // Package, core and processor ids entered under other rules would
        // mix with the new ones.
        TopologyCache::ClearAll();
        s_topologyRules = rules;
        // What was learnt of the machine's topology leaves goes with a clear.
        if (requests != s_clearRequestsSeen) TrustTopologyLeaves();
        s_clearRequestsSeen = requests;
    }
    PutRulesInForce(rules);
}

CollectionScope::~CollectionScope() {
    --s_depth;
    platform::EndProcessorSnapshot();
}

void CollectionScope::RequestClear() { s_clearRequests.fetch_add(1, std::memory_order_relaxed); }
