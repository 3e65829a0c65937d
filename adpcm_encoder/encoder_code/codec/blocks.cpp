#include "codec/blocks.h"

#include <algorithm>

#include "codec/ima_adpcm.h"
#include "codec/internal/lanes.h"
#include "codec/internal/sample_encoder.h"
#include "codec/internal/tables.h"

namespace codec {

unsigned char FirstBlockStepIndex(short opening) {
    IMA_ADPCM codec;
    codec.EncodeInit(opening, 0);
    return codec.StepIndex;
}

void EncodeBlocksScalar(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                        unsigned char* codes, std::size_t codesStride,
                        const unsigned char* startIndices, std::size_t count,
                        SquaredErrors errors) {
    const auto samples = static_cast<unsigned int>(codesPerBlock);
    const auto measured = static_cast<unsigned int>(errors.sums ? errors.codes : 0);
    for (std::size_t b = 0; b < count; ++b) {
        const short* row = rows + b * rowStride;
        unsigned char* blockCodes = codes + b * codesStride;
        EncoderState state{row[0], startIndices[b], IMA_ADPCMStepTable[startIndices[b]]};
        if (errors.sums) {
            ErrorSum sum;
            EncodePacked(state, blockCodes, 0, row + 1, measured, sum);
            errors.sums[b] = sum.squares;
        }
        EncodePacked(state, blockCodes, static_cast<int>(measured * kCodeBits), row + 1 + measured,
                     samples - measured);
    }
}

// The lanes take whole passes; blocks of another length, and those left
// over from the lanes' width, go on the scalar path.
void EncodeBlocks(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                  unsigned char* codes, std::size_t codesStride,
                  const unsigned char* startIndices, std::size_t count,
                  SquaredErrors errors) {
    const bool lanesFit = kLaneWidth > 0 && codesPerBlock % kLanePassSamples == 0 &&
                          (!errors.sums || errors.codes <= kLaneMostSummedCodes);
    const std::size_t inLanes = lanesFit ? count - count % kLaneWidth : 0;
    EncodeInLanes(rows, rowStride, codesPerBlock, codes, codesStride, startIndices, inLanes,
                  errors);
    EncodeBlocksScalar(rows + inLanes * rowStride, rowStride, codesPerBlock,
                       codes + inLanes * codesStride, codesStride, startIndices + inLanes,
                       count - inLanes, errors.From(inLanes));
}

namespace {

constexpr std::size_t kDecodedInterleaved = 4;

struct BlocksToDecode {
    const short* openings;
    std::size_t openingStride;
    const unsigned char* startIndices;
    const unsigned char* codes;
    std::size_t codesStride;
    std::size_t samplesPerBlock;
    short* out;
    std::size_t outStride;
};

// Blocks first .. first + Blocks - 1, interleaved: a step of each in turn.
template <std::size_t Blocks>
void DecodeInterleaved(const BlocksToDecode& blocks, std::size_t first) {
    DecoderState state[Blocks];
    const unsigned char* codes[Blocks];
    short* out[Blocks];
    for (std::size_t k = 0; k < Blocks; ++k) {
        const std::size_t b = first + k;
        const short opening = blocks.openings[b * blocks.openingStride];
        state[k] = {opening, std::min<int>(blocks.startIndices[b], kMaxStepIndex)};
        codes[k] = blocks.codes + b * blocks.codesStride;
        out[k] = blocks.out + b * blocks.outStride;
        *out[k]++ = opening;
    }
    const std::size_t codeCount = blocks.samplesPerBlock - 1;
    for (std::size_t i = 0; i < codeCount / 2; ++i) {
        for (std::size_t k = 0; k < Blocks; ++k) {
            const unsigned int pair = codes[k][i];
            out[k][2 * i] = static_cast<short>(DecodeCode(state[k], EarlierCode(pair)));
            out[k][2 * i + 1] = static_cast<short>(DecodeCode(state[k], LaterCode(pair)));
        }
    }
    if (codeCount % 2) {
        for (std::size_t k = 0; k < Blocks; ++k) {
            out[k][codeCount - 1] =
                static_cast<short>(DecodeCode(state[k], EarlierCode(codes[k][codeCount / 2])));
        }
    }
}

}  // namespace

void DecodeBlocks(const short* openings, std::size_t openingStride,
                  const unsigned char* startIndices, const unsigned char* codes,
                  std::size_t codesStride, std::size_t samplesPerBlock, short* out,
                  std::size_t outStride, std::size_t count) {
    const BlocksToDecode blocks{openings, openingStride, startIndices, codes, codesStride,
                                samplesPerBlock, out, outStride};
    std::size_t b = 0;
    for (; b + kDecodedInterleaved <= count; b += kDecodedInterleaved) {
        DecodeInterleaved<kDecodedInterleaved>(blocks, b);
    }
    for (; b < count; ++b) DecodeInterleaved<1>(blocks, b);
}

}  // namespace codec
