// RangeLinks: the range entries that one cell's formula reads, in the order they were linked.
#ifndef KORVEL_MODEL_RANGE_LINKS_H_
#define KORVEL_MODEL_RANGE_LINKS_H_

#include "model/pointer_list.h"

namespace korvel {

struct RangeEntry;
using RangeLinks = PointerList<RangeEntry>;

}  // namespace korvel

#endif  // KORVEL_MODEL_RANGE_LINKS_H_
