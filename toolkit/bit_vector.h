// Sets of inputs as arrays of 32-bit words: member a in word a / 32 at bit 31 - (a mod 32),
// so that member 0 is the most significant bit of word 0 and prints first.
#pragma once

#include <cstdint>

inline int vectorWords(int n) { return n <= 0 ? 0 : ((n - 1) >> 5) + 1; }
inline uint32_t bitMask(int a) { return 1u << (~a & 31); }

inline int wordBitTest(uint32_t word, int a) { return (word & bitMask(a)) ? 1 : 0; }
inline uint32_t wordBitSet(uint32_t& word, int a) { uint32_t m = bitMask(a); word |= m; return m; }
inline int bitTest(const uint32_t* v, int a) { return (v[a >> 5] & bitMask(a)) ? 1 : 0; }
inline void bitSet(uint32_t* v, int a) { v[a >> 5] |= bitMask(a); }

// Whole-vector operations over words 0 .. (n - 1) / 32; nothing for n <= 0.
void vectorOr(uint32_t* target, const uint32_t* source, int n);
void vectorAnd(uint32_t* target, const uint32_t* source, int n);
void vectorCopy(uint32_t* target, const uint32_t* source, int n);
int vectorCount(const uint32_t* v, int n);

// Zero-filled vector for n members (calloc, not tracked), or null; vectorFree returns 0.
uint32_t* vectorAlloc(int n);
int vectorFree(uint32_t* v);
