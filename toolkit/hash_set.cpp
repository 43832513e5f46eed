#include "toolkit/hash_set.h"

#include <cstdlib>
#include <cstring>

#include "toolkit/run.h"

HashSet::~HashSet() {
    std::free(slots);
    std::free(keys);
}

bool allocateHashSet(HashSet& set, int table, bool tracked) {
    set.table = table;
    if (set.slots != nullptr) return true;
    set.tracked = tracked;
    if (tracked) {
        set.slots = static_cast<HashSlot*>(trackedCalloc(kHashSlots, sizeof(HashSlot)));
        set.keys = static_cast<int32_t*>(trackedCalloc(kHashSlots, sizeof(int32_t)));
    } else {
        set.slots = static_cast<HashSlot*>(std::calloc(kHashSlots, sizeof(HashSlot)));
        set.keys = static_cast<int32_t*>(std::calloc(kHashSlots, sizeof(int32_t)));
    }
    set.counters = HashCounters{};
    return set.slots != nullptr && set.keys != nullptr;
}

void clearHashSet(HashSet& set) {
    if (set.slots == nullptr) return;
    std::memset(set.slots, 0, sizeof(HashSlot) * kHashSlots);
    set.counters = HashCounters{};
}

void hashSetFull(const HashSet& set) { fatal("hash full, table %d\n", set.table); }
