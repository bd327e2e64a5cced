// --svg: a picture of the machine. Packages hold their cores, cores hold
// their logical processors (with APIC ids) and list their TLBs; every cache
// is a bar under exactly the processors that share it (several bars in one
// group where those processors do not sit side by side). Cores wrap into
// rows, so the picture stays readable from 1 to 64 processors; a row breaks
// between clusters of cores that share a cache (SvgLayout.h). On a hybrid
// machine each core is labelled and coloured by its kind, which a legend
// lists. A machine of several processor groups is drawn group by group, one
// below the other, each group's picture a nested <svg class="group"
// data-group="n">.
//
// For tools and tests: each logical processor is a <g class="cpu"> with
// data-apic-id (the initial APIC id, the id caches name their sharers by),
// data-logical-index and data-row, inside a <g class="core"> that has
// data-core-type where its kind is known (named as in the JSON document; the
// <g class="legend-entry"> elements carry the kinds drawn); each cache a
// <g class="cache"> with data-level, data-type, data-size (bytes) and
// data-sharing (the APIC ids of the processors that share it, space-separated,
// ascending: those the library names and those that hold it), its bars with
// data-row.
#pragma once

#include "Snapshot.h"

#include <ostream>

namespace quillinfo {

void WriteSvg(const MachineSnapshot& snapshot, std::ostream& out);

}  // namespace quillinfo
