#include "convert/best_encoding.h"

#include <algorithm>

#include "platform/cores.h"

namespace convert {

std::size_t BestEncoding::WorkersFor(std::size_t groupBlocks, unsigned wanted) {
    const std::size_t workers = wanted ? wanted : platform::UsableCores();
    return std::max<std::size_t>(1, std::min(workers, groupBlocks));
}

BestEncoding::BestEncoding(std::size_t workers) : pool_(workers), searches_(pool_.workers()) {}

void BestEncoding::Encode(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                          unsigned char* codes, std::size_t codesStride,
                          unsigned char* startIndices, std::size_t count) {
    pool_.Run(count, [&](std::size_t worker, std::size_t b) {
        startIndices[b] =
            searches_[worker].Encode(rows + b * rowStride, codesPerBlock, codes + b * codesStride);
    });
}

}  // namespace convert
