// Result sets of the traversal: the standard N and K arrays and the bounded heaps of
// the custom, single, pair, K and N sets.
#include "treequery/traversal.h"

void offerStandard(ResultRecord* array, int size, int index, const ResultRecord& node) {
    if (array == nullptr || index <= 1 || index >= size) return;
    ResultRecord& r = array[index];
    if (node.length > r.length) {
        r = node;
        r.NC = 1;
    } else if (node.length == r.length) {
        r.NC++;
    }
}

void offerToSet(ResultSet& set, const ResultRecord& node) {
    set.total++;
    const int capacity = set.capacity;
    if (capacity <= 0) return;
    if (set.heapSize < capacity) {
        // Records are never freed during the walk, so the next free one is heapSize.
        int slot = set.heapSize;
        set.records[slot] = node;
        set.records[slot].NC = 0;
        int pos = set.heapSize++;
        set.order[pos] = slot;
        while (pos > 0) {
            int parent = (pos - 1) / 2;
            if (!worseResult(set.records[set.order[pos]], set.records[set.order[parent]])) break;
            int t = set.order[pos];
            set.order[pos] = set.order[parent];
            set.order[parent] = t;
            pos = parent;
        }
        return;
    }
    ResultRecord& worst = set.records[set.order[0]];
    if (node.length <= worst.length) return;  // ties keep the earlier candidate
    worst = node;
    worst.NC = 0;
    siftDown(set, kSiftReplace);
}

void siftDown(ResultSet& set, SiftMode mode) {
    if (mode == kSiftPop) {
        if (set.heapSize <= 0) return;
        set.heapSize--;
        set.order[0] = set.order[set.heapSize];
    }
    const int size = set.heapSize;
    int pos = 0;
    for (;;) {
        int left = 2 * pos + 1;
        if (left >= size) break;
        int chosen = left;
        int right = left + 1;
        if (right < size && worseResult(set.records[set.order[right]], set.records[set.order[left]]))
            chosen = right;
        if (!worseResult(set.records[set.order[chosen]], set.records[set.order[pos]])) break;
        int t = set.order[pos];
        set.order[pos] = set.order[chosen];
        set.order[chosen] = t;
        pos = chosen;
    }
}

void finalOrder(ResultSet& set) {
    const int kept = set.heapSize;
    while (set.heapSize > 0) {
        int root = set.order[0];
        siftDown(set, kSiftPop);
        set.order[set.heapSize] = root;  // the position the pop just freed
    }
    set.heapSize = kept;
}
