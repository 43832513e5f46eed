// Output of a run's files in pieces: the .stpsa records and the .stlcp values are made
// piece by piece into a buffer and written out. With one thread the pieces go out in
// order with plain writes; with several, thread t makes pieces t, t+T, t+2T, ... and
// writes each at its own place in the file, so the file is the same byte for byte.
// The file's block checksums are taken from the pieces as they go out when they go in
// order; otherwise the caller reads the finished file back (commitRunFile).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "runarray/runarray.h"
#include "toolkit/checksum.h"
#include "toolkit/file_io.h"
#include "toolkit/run.h"

// What writePieces did: items written, and the first piece that failed (-1 when none)
// with the bytes of it that did go out.
struct PiecesWritten {
    int64_t items = 0;
    int64_t failedPiece = -1;
    int64_t failedBytes = 0;
    int64_t failedItems = 0;  // items in the failed piece
    int pieces = 0;           // pieces written whole
    bool hashed = false;      // the pieces went out in order, each whole one added to the hasher
};

// `total` items in pieces of `pieceItems`; fill(from, count, buffer) makes items
// from .. from+count-1 into buffer. `buffers` holds pieceItems items per thread.
template <class Item, class Fill>
PiecesWritten writePieces(int fd, int64_t total, int pieceItems, Item* buffers, int threads, BlockHasher& hash,
                          Fill fill) {
    const int64_t pieces = total > 0 ? (total + pieceItems - 1) / pieceItems : 0;
    if (threads > pieces) threads = (int)std::max<int64_t>(pieces, 1);
    struct Share {
        int64_t items = 0, failedPiece = -1, failedBytes = 0, failedItems = 0;
        int pieces = 0;
    };
    std::vector<Share> shares((size_t)threads);
    // The first failed piece so far: the others stop before any later piece.
    std::atomic<int64_t> firstFailure{INT64_MAX};
    shareWork(threads, [&](int t) {
        Share& share = shares[(size_t)t];
        Item* buffer = buffers + (int64_t)t * pieceItems;
        for (int64_t piece = t; piece < pieces; piece += threads) {
            if (piece > firstFailure.load(std::memory_order_relaxed)) break;
            int64_t from = piece * pieceItems;
            int count = (int)std::min<int64_t>(pieceItems, total - from);
            fill(from, count, buffer);
            int64_t bytes = (int64_t)count * (int64_t)sizeof(Item);
            int64_t at = threads > 1 ? from * (int64_t)sizeof(Item) : -1;
            int64_t got = writeAll(fd, buffer, (size_t)bytes, at);
            if (got != bytes) {
                share.failedPiece = piece;
                share.failedBytes = got;
                share.failedItems = count;
                int64_t seen = firstFailure.load();
                while (piece < seen && !firstFailure.compare_exchange_weak(seen, piece)) {
                }
                break;
            }
            if (threads == 1) hash.add(buffer, (size_t)bytes);
            share.items += count;
            share.pieces++;
        }
    });
    PiecesWritten result;
    result.hashed = threads == 1;
    for (const Share& share : shares) {
        if (share.failedPiece >= 0 && (result.failedPiece < 0 || share.failedPiece < result.failedPiece)) {
            result.failedPiece = share.failedPiece;
            result.failedBytes = share.failedBytes;
            result.failedItems = share.failedItems;
        }
    }
    // As one thread would tell it: every piece before the first failure went out whole.
    if (result.failedPiece >= 0) {
        result.pieces = (int)result.failedPiece;
        result.items = result.failedPiece * pieceItems;
    } else {
        result.pieces = (int)pieces;
        result.items = total > 0 ? total : 0;
    }
    return result;
}
