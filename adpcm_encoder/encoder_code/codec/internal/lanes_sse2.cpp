// Blocks in the eight 16-bit lanes of SSE2 registers, which every x86-64
// CPU has, four registers' worth at a time.
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "codec/blocks.h"
#include "codec/internal/lanes.h"
#include "codec/internal/tables.h"

namespace codec {

namespace {

constexpr std::size_t kLanes = 8;
// Each pass takes 8 samples of each of the 8 blocks and turns them around,
// so that one register holds one moment of every block.
constexpr std::size_t kSamplesPerPass = 8;
constexpr std::size_t kInterleavedGroups = 4;
constexpr std::size_t kInterleavedBlocks = kInterleavedGroups * kLanes;
// The predictor and the samples are kept with their sign bit flipped, as
// unsigned values 0..65535: the saturating unsigned add and subtract then
// stop the predictor at exactly the ends of the sample range, and the
// distance to a sample, up to 65535, fits a lane.
constexpr std::uint16_t kSignFlip = 0x8000;

// The lanes compute the next step index instead of looking it up: -1 after
// a code of magnitude 0..3, 2 * magnitude - 6 after one of 4..7.
constexpr bool IndexChangeIsLinearAboveHalf() {
    for (int magnitude = 0; magnitude < 8; ++magnitude) {
        const int change = magnitude < 4 ? -1 : 2 * magnitude - 6;
        if (IMA_ADPCMIndexTable[magnitude] != change) return false;
    }
    return true;
}
static_assert(IndexChangeIsLinearAboveHalf(), "the lanes' step-index update");

struct LaneState {
    __m128i predicted;  // sign bit flipped
    __m128i index;
    __m128i step;
};

// All bits set in the lanes where value <= threshold, both unsigned.
inline __m128i AtMost(__m128i value, __m128i threshold) {
    return _mm_cmpeq_epi16(_mm_subs_epu16(value, threshold), _mm_setzero_si128());
}

// SSE2 has no gather: each lane's step comes from the table on its own.
inline __m128i StepsAt(__m128i index) {
    alignas(16) std::uint16_t at[kLanes];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), index);
    const auto step = [&at](std::size_t lane) {
        return static_cast<short>(IMA_ADPCMStepTable[at[lane]]);
    };
    return _mm_setr_epi16(step(0), step(1), step(2), step(3), step(4), step(5), step(6), step(7));
}

// One sample of every lane (sign bit flipped); returns the codes. The
// comparisons are those of the scalar path's EncodeSample: three made
// at once give the whole and half bits, and only the quarter bit waits.
inline __m128i EncodeLaneSamples(LaneState& state, __m128i sample) {
    const __m128i step = state.step;
    const __m128i half = _mm_srli_epi16(step, 1);
    const __m128i quarter = _mm_srli_epi16(step, 2);
    const __m128i eighth = _mm_srli_epi16(step, 3);
    const __m128i below = _mm_subs_epu16(state.predicted, sample);
    const __m128i distance = _mm_or_si128(_mm_subs_epu16(sample, state.predicted), below);
    const __m128i notNegative = _mm_cmpeq_epi16(below, _mm_setzero_si128());

    const __m128i withinHalf = AtMost(distance, half);
    const __m128i withinStep = AtMost(distance, step);
    const __m128i withinStepAndHalf = AtMost(distance, _mm_add_epi16(step, half));
    const __m128i taken =
        _mm_add_epi16(_mm_add_epi16(_mm_andnot_si128(withinHalf, half),
                                    _mm_andnot_si128(withinStep, _mm_sub_epi16(step, half))),
                      _mm_andnot_si128(withinStepAndHalf, half));
    const __m128i withinQuarterMore = AtMost(distance, _mm_add_epi16(taken, quarter));
    const __m128i halfBitClear =
        _mm_xor_si128(_mm_xor_si128(withinHalf, withinStep), withinStepAndHalf);
    const __m128i magnitude =
        _mm_or_si128(_mm_or_si128(_mm_andnot_si128(withinStep, _mm_set1_epi16(4)),
                                  _mm_andnot_si128(halfBitClear, _mm_set1_epi16(2))),
                     _mm_andnot_si128(withinQuarterMore, _mm_set1_epi16(1)));

    const __m128i delta =
        _mm_add_epi16(_mm_add_epi16(taken, eighth), _mm_andnot_si128(withinQuarterMore, quarter));
    state.predicted =
        _mm_or_si128(_mm_and_si128(notNegative, _mm_adds_epu16(state.predicted, delta)),
                     _mm_andnot_si128(notNegative, _mm_subs_epu16(state.predicted, delta)));
    // -1 in the lanes without the whole bit, 2 * magnitude - 6 in the others.
    const __m128i change =
        _mm_or_si128(withinStep, _mm_sub_epi16(_mm_slli_epi16(magnitude, 1), _mm_set1_epi16(6)));
    state.index =
        _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(state.index, change), _mm_setzero_si128()),
                      _mm_set1_epi16(kMaxStepIndex));
    state.step = StepsAt(state.index);
    return _mm_or_si128(_mm_andnot_si128(notNegative, _mm_set1_epi16(static_cast<short>(kSignBit))), magnitude);
}

// Each lane's squared error, the low and the high 16 bits of every square
// summed apart in 32 bits, lanes 0..3 in [0] and 4..7 in [1]: neither sum of
// up to 65536 squares passes 32 bits, and SSE2 has no wider multiply of
// 16-bit lanes.
struct ErrorLanes {
    __m128i low[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
    __m128i high[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
};

// Both sign bit flipped: the distance is that of the signed values.
inline void AddSquaredError(ErrorLanes& sums, __m128i sample, __m128i played) {
    const __m128i distance =
        _mm_or_si128(_mm_subs_epu16(sample, played), _mm_subs_epu16(played, sample));
    const __m128i low = _mm_mullo_epi16(distance, distance);
    const __m128i high = _mm_mulhi_epu16(distance, distance);
    const __m128i zero = _mm_setzero_si128();
    sums.low[0] = _mm_add_epi32(sums.low[0], _mm_unpacklo_epi16(low, zero));
    sums.low[1] = _mm_add_epi32(sums.low[1], _mm_unpackhi_epi16(low, zero));
    sums.high[0] = _mm_add_epi32(sums.high[0], _mm_unpacklo_epi16(high, zero));
    sums.high[1] = _mm_add_epi32(sums.high[1], _mm_unpackhi_epi16(high, zero));
}

void StoreSquaredErrors(const ErrorLanes& sums, std::uint64_t* out) {
    alignas(16) std::uint32_t low[kLanes], high[kLanes];
    for (std::size_t half = 0; half < 2; ++half) {
        _mm_store_si128(reinterpret_cast<__m128i*>(low + 4 * half), sums.low[half]);
        _mm_store_si128(reinterpret_cast<__m128i*>(high + 4 * half), sums.high[half]);
    }
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        out[lane] = (std::uint64_t{high[lane]} << 16) + low[lane];
    }
}

// Rows of 8 samples in, one register a moment out: s[k] holds sample k of
// every lane.
inline void TurnAround(__m128i (&s)[kLanes]) {
    const __m128i t0 = _mm_unpacklo_epi16(s[0], s[1]), t1 = _mm_unpackhi_epi16(s[0], s[1]);
    const __m128i t2 = _mm_unpacklo_epi16(s[2], s[3]), t3 = _mm_unpackhi_epi16(s[2], s[3]);
    const __m128i t4 = _mm_unpacklo_epi16(s[4], s[5]), t5 = _mm_unpackhi_epi16(s[4], s[5]);
    const __m128i t6 = _mm_unpacklo_epi16(s[6], s[7]), t7 = _mm_unpackhi_epi16(s[6], s[7]);
    const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
    const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
    const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
    const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
    s[0] = _mm_unpacklo_epi64(u0, u4), s[1] = _mm_unpackhi_epi64(u0, u4);
    s[2] = _mm_unpacklo_epi64(u1, u5), s[3] = _mm_unpackhi_epi64(u1, u5);
    s[4] = _mm_unpacklo_epi64(u2, u6), s[5] = _mm_unpackhi_epi64(u2, u6);
    s[6] = _mm_unpacklo_epi64(u3, u7), s[7] = _mm_unpackhi_epi64(u3, u7);
}

// Packs a pass's codes two a byte, the earlier in the low nibble, and
// stores each lane's 4 bytes at its block's place.
inline void StoreCodes(const __m128i (&code)[kSamplesPerPass], unsigned char* codes,
                       std::size_t codesStride) {
    __m128i bytes[kSamplesPerPass / 2];
    for (std::size_t k = 0; k < kSamplesPerPass / 2; ++k) {
        bytes[k] = _mm_or_si128(code[2 * k], _mm_slli_epi16(code[2 * k + 1], kCodeBits));
    }
    const __m128i first = _mm_or_si128(bytes[0], _mm_slli_epi16(bytes[1], 8));
    const __m128i second = _mm_or_si128(bytes[2], _mm_slli_epi16(bytes[3], 8));
    alignas(16) std::uint32_t words[kLanes];
    _mm_store_si128(reinterpret_cast<__m128i*>(words), _mm_unpacklo_epi16(first, second));
    _mm_store_si128(reinterpret_cast<__m128i*>(words + kLanes / 2),
                    _mm_unpackhi_epi16(first, second));
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        std::memcpy(codes + lane * codesStride, &words[lane], sizeof words[lane]);
    }
}

LaneState OpeningState(const short* rows, std::size_t rowStride,
                       const unsigned char* startIndices) {
    alignas(16) std::uint16_t opening[kLanes], index[kLanes];
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        opening[lane] = static_cast<std::uint16_t>(rows[lane * rowStride]) ^ kSignFlip;
        index[lane] = startIndices[lane];
    }
    LaneState state{_mm_load_si128(reinterpret_cast<const __m128i*>(opening)),
                    _mm_load_si128(reinterpret_cast<const __m128i*>(index)),
                    {}};
    state.step = StepsAt(state.index);
    return state;
}

// Encodes `Groups` groups of 8 blocks. Each sample of a lane waits for the
// one before it through the predictor and the step lookup; the groups' chains
// are independent, so taken together the CPU works on one while another
// waits, and has time over for the squared errors, which nothing waits for.
template <std::size_t Groups, bool SumsErrors>
void EncodeLanes(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                 unsigned char* codes, std::size_t codesStride, const unsigned char* startIndices,
                 SquaredErrors errors) {
    LaneState state[Groups];
    ErrorLanes sums[Groups];
    for (std::size_t g = 0; g < Groups; ++g) {
        state[g] =
            OpeningState(rows + g * kLanes * rowStride, rowStride, startIndices + g * kLanes);
    }
    const __m128i flip = _mm_set1_epi16(static_cast<short>(kSignFlip));
    for (std::size_t at = 0; at < codesPerBlock; at += kSamplesPerPass) {
        __m128i samples[Groups][kLanes];
        for (std::size_t g = 0; g < Groups; ++g) {
            for (std::size_t lane = 0; lane < kLanes; ++lane) {
                samples[g][lane] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                    rows + (g * kLanes + lane) * rowStride + 1 + at));
            }
            TurnAround(samples[g]);
        }
        __m128i code[Groups][kSamplesPerPass];
        __m128i played[Groups][kSamplesPerPass];
        for (std::size_t k = 0; k < kSamplesPerPass; ++k) {
            for (std::size_t g = 0; g < Groups; ++g) {
                samples[g][k] = _mm_xor_si128(samples[g][k], flip);
                code[g][k] = EncodeLaneSamples(state[g], samples[g][k]);
                if (SumsErrors) played[g][k] = state[g].predicted;
            }
        }
        // Apart from the chains, which they would crowd out of the registers.
        if (SumsErrors) {
            const std::size_t summed =
                std::min(kSamplesPerPass, errors.codes - std::min(at, errors.codes));
            for (std::size_t g = 0; g < Groups; ++g) {
                for (std::size_t k = 0; k < summed; ++k) {
                    AddSquaredError(sums[g], samples[g][k], played[g][k]);
                }
            }
        }
        for (std::size_t g = 0; g < Groups; ++g) {
            StoreCodes(code[g], codes + g * kLanes * codesStride + at * kCodeBits / 8, codesStride);
        }
    }
    if (SumsErrors) {
        for (std::size_t g = 0; g < Groups; ++g) {
            StoreSquaredErrors(sums[g], errors.sums + g * kLanes);
        }
    }
}

template <std::size_t Groups>
void EncodeLanes(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                 unsigned char* codes, std::size_t codesStride, const unsigned char* startIndices,
                 SquaredErrors errors) {
    if (errors.sums) {
        EncodeLanes<Groups, true>(rows, rowStride, codesPerBlock, codes, codesStride,
                                  startIndices, errors);
    } else {
        EncodeLanes<Groups, false>(rows, rowStride, codesPerBlock, codes, codesStride,
                                   startIndices, errors);
    }
}

}  // namespace

const std::size_t kBlocksInLanes = kInterleavedBlocks;
const std::size_t kLaneWidth = kLanes;
const std::size_t kLanePassSamples = kSamplesPerPass;
const std::size_t kLaneMostSummedCodes = 65536;

// Groups of 8 left over from the interleaved ones go through the lanes alone.
void EncodeInLanes(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                   unsigned char* codes, std::size_t codesStride,
                   const unsigned char* startIndices, std::size_t count,
                   SquaredErrors errors) {
    std::size_t done = 0;
    for (; count - done >= kInterleavedBlocks; done += kInterleavedBlocks) {
        EncodeLanes<kInterleavedGroups>(rows + done * rowStride, rowStride, codesPerBlock,
                                        codes + done * codesStride, codesStride,
                                        startIndices + done, errors.From(done));
    }
    for (; done < count; done += kLanes) {
        EncodeLanes<1>(rows + done * rowStride, rowStride, codesPerBlock,
                       codes + done * codesStride, codesStride, startIndices + done,
                       errors.From(done));
    }
}

}  // namespace codec
