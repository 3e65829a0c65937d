// Several whole blocks encoded in one call.
//
// Blocks are independent: each starts from its own opening sample and the
// step index stored in its header. So several are encoded in SSE2 lanes, one
// block in each lane; on a CPU without SSE2, and for blocks left over, on
// the scalar path, a block at a time.
//
// Block b's row starts at rows + b * rowStride (in samples): row[0] is its
// opening sample, row[1] .. row[codesPerBlock] are the samples it codes
// (codesPerBlock is even, > 0). Its codes go to codes + b * codesStride,
// codesPerBlock / 2 bytes packed as the buffer Encode packs them (earlier
// code in the low nibble) that no other block's overlap (codesStride >=
// codesPerBlock / 2), and the step index they start from to
// startIndices[b]. The result equals, byte for byte, one buffer
// IMA_ADPCM::Encode per block in order (each with HeaderVal set to the
// block's opening sample, dstOffset 0, srcSize 2 * codesPerBlock,
// src = row + 1): the first buffer Encode of the process starts from the
// step index that EncodeInit chooses, every later one from StaticVal, and
// `x` is advanced as Encode advances it. HeaderVal is left at the last
// block's opening sample, as those calls leave it.
//
// Codec unit: no I/O, no allocation. Not reentrant, as the buffer Encode.
#pragma once

#include <cstddef>

// How many blocks this build encodes at once in SSE2 lanes: a group of a
// multiple of it encodes fastest. 1 when it encodes on the scalar path.
extern const std::size_t kBlocksInLanes;

void EncodeBlocks(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                  unsigned char* codes, std::size_t codesStride, unsigned char* startIndices,
                  std::size_t count);

// The same on the scalar path, a block at a time through the buffer Encode:
// what the lanes are measured and checked against, and what they leave over.
void EncodeBlocksScalar(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                        unsigned char* codes, std::size_t codesStride, unsigned char* startIndices,
                        std::size_t count);

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
