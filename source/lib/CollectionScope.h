// One collection: a machine description, a single processor description, or
// a lookup of a machine description that collects, from start to end.
#pragma once

#include <cstdint>

// The outermost scope on the collecting thread puts in force the rules the
// host asked for last and, when the topology caches were filled under other
// rules or the host asked since to forget them, empties them first; scopes
// within it change nothing. Collections never overlap one another (see
// include/quill/Quill.h), so all but the requests is the collecting
// thread's alone. Every scope also holds the platform's snapshot of the
// system's processors (BeginProcessorSnapshot), so that a collection reads
// them once.
class CollectionScope {
public:
    CollectionScope();
    ~CollectionScope();
    CollectionScope(const CollectionScope&) = delete;
    CollectionScope& operator=(const CollectionScope&) = delete;

    // ClearAllCachedMachineDescriptors, from any thread at any time: the next
    // collection starts from empty topology caches.
    static void RequestClear();
};
