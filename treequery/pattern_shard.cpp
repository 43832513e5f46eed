// --shard i/n: one of n consecutive shares of a pattern file, so that separate
// processes search the shares and their rows, one after another, are one process's
// rows. Placing the share reads the file once more (O(bytes), one batch of memory).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "toolkit/options.h"
#include "toolkit/run.h"
#include "treequery/user_terms.h"

PatternShard placeShard(const QuerySettings& s, long long longest) {
    PatternShard shard;
    if (!s.shard) return shard;
    long long index = 0, count = 0;
    if (!parseShare(s.shard, index, count))
        fatal("--shard \"%s\" is not <i>/<n> with 1 <= i <= n\n", s.shard);
    shard.index = (int)index;
    shard.count = (int)count;
    PatternFile file;
    openPatternFile(file, s.patternFile, longest);
    std::vector<UserPattern> batch;
    long long patterns = 0;
    while (batch.clear(), readPatternBatch(file, batch, kPatternBatch)) patterns += (long long)batch.size();
    shard.first = patterns * (index - 1) / count;
    shard.end = patterns * index / count;
    return shard;
}

bool keepShard(PatternShard& shard, std::vector<UserPattern>& batch, size_t from) {
    if (shard.index == 0) return true;
    size_t kept = from;
    for (size_t p = from; p < batch.size(); p++, shard.seen++)
        if (shard.seen >= shard.first && shard.seen < shard.end) {
            if (kept != p) batch[kept] = std::move(batch[p]);
            kept++;
        }
    batch.resize(kept);
    return shard.seen < shard.end;
}
