// Several whole blocks encoded, or decoded, in one call.
//
// Blocks are independent: each starts from its own opening sample and step
// index, which the caller gives, so a call touches no program-wide value
// and any number may run at once, on any thread. Several blocks are encoded
// in SSE2 lanes, one block in each lane; on a CPU without SSE2, and for
// blocks left over, on the scalar path, a block at a time.
//
// Block b's row starts at rows + b * rowStride (in samples): row[0] is its
// opening sample, row[1] .. row[codesPerBlock] are the samples it codes
// (codesPerBlock is even, > 0). Its codes go to codes + b * codesStride,
// codesPerBlock / 2 bytes packed as the buffer Encode packs them (earlier
// code in the low nibble) that no other block's overlap (codesStride >=
// codesPerBlock / 2). They are the codes the default encoder gives from the
// predictor at row[0] and the step index startIndices[b] (0..88): those of
// IMA_ADPCM::Encodes from that state, a sample at a time.
//
// The default encoder starts a file's first block from
// FirstBlockStepIndex(its opening sample), and every later block from
// kLaterBlockStepIndex.
//
// Asked, the encoder sums each block's squared error as it codes: what a
// decoder plays for a code is the predictor the code leaves, so no decoding
// is needed to know how far the blocks are from their samples.
//
// Codec unit: no I/O, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace codec {

// How many blocks this build encodes at once in SSE2 lanes: a group of a
// multiple of it encodes fastest. 1 when it encodes on the scalar path.
extern const std::size_t kBlocksInLanes;

// The step EncodeInit chooses for the jump from the opening sample to 0,
// which the first buffer Encode of a run makes.
unsigned char FirstBlockStepIndex(short opening);
inline constexpr unsigned char kLaterBlockStepIndex = 0;

// Where the squared errors go: sums[b] is that of block b over its first
// `codes` codes (0 .. codesPerBlock), the sum of (row[i] - what a decoder
// plays for row[i])^2 for i = 1 .. codes. No sums when `sums` is null.
struct SquaredErrors {
    std::uint64_t* sums = nullptr;
    std::size_t codes = 0;

    // Those of the blocks from `first` on.
    SquaredErrors From(std::size_t first) const { return {sums ? sums + first : nullptr, codes}; }
};

void EncodeBlocks(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                  unsigned char* codes, std::size_t codesStride,
                  const unsigned char* startIndices, std::size_t count,
                  SquaredErrors errors = {});

// The same on the scalar path, a block at a time: what the lanes are
// measured and checked against, and what they leave over.
void EncodeBlocksScalar(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                        unsigned char* codes, std::size_t codesStride,
                        const unsigned char* startIndices, std::size_t count,
                        SquaredErrors errors = {});

// Several whole blocks decoded in one call, four at a time interleaved, so
// that the CPU works on one block's code while another's step is loaded.
// Block b opens with openings[b * openingStride] and its step index
// startIndices[b] (above 88 taken as 88, as players take it); its
// samplesPerBlock - 1 codes lie at codes + b * codesStride, packed as the
// buffer Encode packs them. Its samples go to out + b * outStride: the
// opening sample, then one a code, equal to those of a buffer
// IMA_ADPCM::Decode from that state.
void DecodeBlocks(const short* openings, std::size_t openingStride,
                  const unsigned char* startIndices, const unsigned char* codes,
                  std::size_t codesStride, std::size_t samplesPerBlock, short* out,
                  std::size_t outStride, std::size_t count);

}  // namespace codec
