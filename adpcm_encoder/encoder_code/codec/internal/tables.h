// The codec's vocabulary: a code's fields, the sample range, two codes to a
// byte, the step and index tables and what a decoder makes of each code;
// shared by the per-sample code in ima_adpcm.cpp, the units that code
// several blocks at once and the search.
// Internal to the codec: other layers use ima_adpcm.h, blocks.h and search.h.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/code_format.h"

inline constexpr unsigned short IMA_ADPCMStepTable[codec::kMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// The change of the step index after a code, by its magnitude (code & 7).
inline constexpr int IMA_ADPCMIndexTable[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

namespace codec {

inline constexpr unsigned int kCodeMask = (1u << kCodeBits) - 1;
inline constexpr unsigned int kSignBit = 8;
inline constexpr unsigned int kMagnitudeMask = 7;
inline constexpr int kMinSample = -32768;
inline constexpr int kMaxSample = 32767;

// A sample's error can reach 65535, whose square passes int.
inline constexpr std::uint64_t Square(int value) {
    return static_cast<std::uint64_t>(std::int64_t{value} * value);
}

// Two codes a byte, the earlier in the low nibble.
inline constexpr unsigned char PackedCodes(unsigned int earlier, unsigned int later) {
    return static_cast<unsigned char>(earlier | later << kCodeBits);
}
inline constexpr unsigned int EarlierCode(unsigned int byte) { return byte & kCodeMask; }
inline constexpr unsigned int LaterCode(unsigned int byte) { return byte >> kCodeBits; }

// Code i of a packed buffer set to `code`, its neighbour in the byte kept.
inline void PutCode(unsigned char* codes, std::size_t i, unsigned int code) {
    unsigned char& byte = codes[i / 2];
    byte = i % 2 ? PackedCodes(EarlierCode(byte), code) : PackedCodes(code, LaterCode(byte));
}

// Where a code leads: the step index after a code of a given magnitude, and
// its step, in one load. The encoder looks up the next step with the
// magnitude it has just found instead of adding, clamping and then loading;
// the decoder takes the next index from here too.
struct Successor {
    unsigned short step;
    unsigned char index;
};
using SuccessorTable = std::array<std::array<Successor, kMagnitudeMask + 1>, kMaxStepIndex + 1>;

constexpr SuccessorTable MakeSuccessorTable() {
    SuccessorTable table{};
    for (int index = 0; index <= kMaxStepIndex; ++index) {
        for (unsigned int magnitude = 0; magnitude <= kMagnitudeMask; ++magnitude) {
            const int next = std::clamp(index + IMA_ADPCMIndexTable[magnitude], 0, kMaxStepIndex);
            table[index][magnitude] = {IMA_ADPCMStepTable[next], static_cast<unsigned char>(next)};
        }
    }
    return table;
}

inline constexpr SuccessorTable kSuccessors = MakeSuccessorTable();

// How far a code moves a decoder's predictor, before the clamp: the whole,
// half and quarter steps its magnitude's bits ask for and the rounding
// eighth, taken away for a negative code.
constexpr int DecodedChange(int step, unsigned int code) {
    const int delta = (step >> 3) + ((code & 4) ? step : 0) + ((code & 2) ? step >> 1 : 0) +
                      ((code & 1) ? step >> 2 : 0);
    return (code & kSignBit) ? -delta : delta;
}

// What a decoder does with each code at each step index: the change of the
// predictor in the high bits, the next step index in the low byte. One load a code, and no
// branch on its bits, which audio would mispredict.
inline constexpr unsigned int kCodes = kCodeMask + 1;
inline constexpr int kIndexBits = 8;
inline constexpr int kIndexMask = 0xFF;
using DecodeTable = std::array<std::array<std::int32_t, kCodes>, kMaxStepIndex + 1>;

constexpr DecodeTable MakeDecodeTable() {
    DecodeTable table{};
    for (int index = 0; index <= kMaxStepIndex; ++index) {
        for (unsigned int code = 0; code < kCodes; ++code) {
            const int change = DecodedChange(IMA_ADPCMStepTable[index], code);
            // A multiplication: shifting a negative number left is not defined
            // before C++20.
            table[index][code] = change * (1 << kIndexBits) + kSuccessors[index][code & kMagnitudeMask].index;
        }
    }
    return table;
}

inline constexpr DecodeTable kDecodeSteps = MakeDecodeTable();

struct DecoderState {
    int predicted;
    int index;
};

// One code (its low 4 bits) decoded: the predictor and step index it leads
// to. The change is read back with an arithmetic shift, as on every
// compiler the program is built with.
inline int DecodeCode(DecoderState& state, unsigned int code) {
    const std::int32_t entry = kDecodeSteps[state.index][code & kCodeMask];
    state.index = entry & kIndexMask;
    state.predicted = std::clamp(state.predicted + (entry >> kIndexBits), kMinSample, kMaxSample);
    return state.predicted;
}

}  // namespace codec
