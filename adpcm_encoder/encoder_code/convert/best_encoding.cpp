#include "convert/best_encoding.h"

#include <algorithm>

#include "platform/resources.h"

namespace convert {

std::size_t BestEncoding::WorkersFor(std::size_t groupBlocks, unsigned wanted) {
    const std::size_t workers = wanted ? wanted : platform::UsableCores();
    return std::max<std::size_t>(1, std::min(workers, groupBlocks));
}

BestEncoding::BestEncoding(std::size_t workers, bool compatible)
    : compatible_(compatible), pool_(workers), searches_(pool_.workers()) {}

void BestEncoding::Encode(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                          unsigned char* codes, std::size_t codesStride,
                          unsigned char* startIndices, std::size_t count, std::size_t lastSamples,
                          std::uint64_t* squaredErrors) {
    pool_.Run(count, [&](std::size_t worker, std::size_t b) {
        const short* row = rows + b * rowStride;
        unsigned char* blockCodes = codes + b * codesStride;
        const std::size_t samples =
            b + 1 == count ? lastSamples : codec::BestBlockEncoder::kAllSamples;
        std::uint64_t* squaredError = squaredErrors ? squaredErrors + b : nullptr;
        if (compatible_) {
            searches_[worker].EncodeFrom(row, codesPerBlock, startIndices[b], blockCodes, samples,
                                         squaredError);
        } else {
            startIndices[b] =
                searches_[worker].Encode(row, codesPerBlock, blockCodes, samples, squaredError);
        }
    });
}

}  // namespace convert
