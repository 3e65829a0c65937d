// --best's encoding of a group of blocks: each block searched for its best
// step index and codes (codec/search.h) on one of a pool of threads.
//
// Each block's codes depend on its samples alone, so the bytes are the same
// whatever the number of workers, fewer when the system lets fewer threads
// start. The threads and every worker's search are made by the constructor,
// which throws std::bad_alloc when memory runs out; Encode allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/search.h"
#include "convert/worker_pool.h"

namespace convert {

class BestEncoding {
public:
    // `wanted` workers, 0 for one a core the process may use; no more than
    // there are blocks in a group.
    static std::size_t WorkersFor(std::size_t groupBlocks, unsigned wanted);

    // `compatible`: each block from the step index it is given.
    BestEncoding(std::size_t workers, bool compatible);

    // Rows as EncodeBlocks takes them; block b's codes, codesPerBlock / 2
    // bytes, go to codes + b * codesStride, and its step index to
    // startIndices[b], which holds the default's and, when compatible, keeps
    // it.
    // The last block holds `lastSamples` samples of its own (its opening one
    // among them), the rest of its row filled up. squaredErrors[b], if
    // given, gets block b's squared error over its own samples.
    void Encode(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                unsigned char* codes, std::size_t codesStride, unsigned char* startIndices,
                std::size_t count, std::size_t lastSamples, std::uint64_t* squaredErrors);

private:
    bool compatible_;
    WorkerPool pool_;
    std::vector<codec::BestBlockEncoder> searches_;
};

}  // namespace convert
