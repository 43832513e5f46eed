#include "toolkit/bit_vector.h"

#include <cstdlib>

void vectorOr(uint32_t* target, const uint32_t* source, int n) {
    for (int w = 0, words = vectorWords(n); w < words; w++) target[w] |= source[w];
}

void vectorAnd(uint32_t* target, const uint32_t* source, int n) {
    for (int w = 0, words = vectorWords(n); w < words; w++) target[w] &= source[w];
}

void vectorCopy(uint32_t* target, const uint32_t* source, int n) {
    for (int w = 0, words = vectorWords(n); w < words; w++) target[w] = source[w];
}

int vectorCount(const uint32_t* v, int n) {
    int count = 0;
    for (int w = 0, words = vectorWords(n); w < words; w++)
        for (uint32_t word = v[w]; word; word &= word - 1) count++;
    return count;
}

uint32_t* vectorAlloc(int n) {
    return static_cast<uint32_t*>(calloc(n <= 0 ? 1 : (size_t)vectorWords(n), sizeof(uint32_t)));
}

int vectorFree(uint32_t* v) {
    free(v);
    return 0;
}
