// An open-addressing hash set of 32-bit keys that numbers the distinct keys in the order
// they arrive (1, 2, ...), for the dictionaries of child offsets and edge lengths.
// Insertion: O(1) expected probes; memory: 12 bytes per slot, fixed at kHashSlots slots.
//
// A key starts at slot key mod kHashSlots (a negative key at (159996 - that) mod
// kHashSlots) and probes in steps of kHashStep; the slot count is prime, so the probes
// visit every slot. The counters are those the statistics lines print.
#pragma once

#include <cstdint>

constexpr int kHashSlots = 319993;
constexpr int kHashStep = 113;

// Slot of a set: key 0 marks an empty slot.
struct HashSlot {
    int32_t key;
    uint32_t id;
};
static_assert(sizeof(HashSlot) == 8);

struct HashCounters {
    int requested;  // insertions asked for ("n" in the statistics lines)
    int stored;     // keys stored, also the last id given ("h")
    int probes;     // slots passed over on the way to a key's slot ("c")
};

struct HashSet {
    HashSlot* slots = nullptr;  // kHashSlots slots
    int32_t* keys = nullptr;    // the keys in the order they were stored: id k at k - 1
    HashCounters counters{};
    int table = 0;              // number the "hash full" error names
    bool tracked = false;       // memory counted in the run's memory total
    HashSet() = default;
    HashSet(const HashSet&) = delete;
    HashSet& operator=(const HashSet&) = delete;
    ~HashSet();
};

// Allocates the slots and the key list once, cleared (tracked: through the tracked
// allocators, so that the closing memory figure counts them); a set already allocated
// is left as it is. False when the memory is not there.
bool allocateHashSet(HashSet& set, int table, bool tracked);

// Empties the set and zeroes its counters.
void clearHashSet(HashSet& set);

// The id of `key`, stored with the next id when new. A key of 0 cannot be stored (it
// leaves its slot looking empty): every insertion of 0 takes a new id and no slot.
// A caller that wants zeros left out counts the request itself and skips the call.
// A set holding kHashSlots keys stops with "hash full, table <table>".
int hashSetInsert(HashSet& set, int32_t key);
