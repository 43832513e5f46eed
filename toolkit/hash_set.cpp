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

int hashSetInsert(HashSet& set, int32_t key) {
    set.counters.requested += 1;
    int slot = key % kHashSlots;
    if (slot < 0) slot = (159996 - slot) % kHashSlots;
    // The key list has one place per slot; a key of 0 takes a place but no slot.
    if (set.counters.stored > kHashSlots - 1) fatal("hash full, table %d\n", set.table);
    while (set.slots[slot].key != key && set.slots[slot].key != 0) {
        slot = (slot + kHashStep) % kHashSlots;
        set.counters.probes += 1;
    }
    if (key != 0 && set.slots[slot].key == key) return static_cast<int>(set.slots[slot].id);
    set.keys[set.counters.stored] = key;
    set.counters.stored += 1;
    set.slots[slot].key = key;
    set.slots[slot].id = static_cast<uint32_t>(set.counters.stored);
    return set.counters.stored;
}
