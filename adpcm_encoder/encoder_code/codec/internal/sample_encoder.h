// The default encoder's step, one sample at a time, and a run of samples
// coded into a packed buffer from a given state: what the buffer Encode and
// the scalar path of blocks.h share.
// Internal to the codec.
#pragma once

#include <algorithm>
#include <cstdint>

#include "codec/internal/tables.h"

namespace codec {

// The chain from one sample to the next runs through these values; the
// buffer Encode keeps them in registers for a whole block.
struct EncoderState {
    int predicted;
    int index;
    int step;
};

// All bits set when `condition` holds, else none.
inline int MaskIf(bool condition) { return -static_cast<int>(condition); }

// All bits set when value > threshold, else none. Both lie within 0..65535,
// so the difference cannot overflow, and shifting a negative int right is
// arithmetic on every compiler the program is built with.
inline int Above(int value, int threshold) { return (threshold - value) >> 31; }

// One step of the encoder. The magnitude's bits say whether the distance
// exceeds the whole step, then whether what is left exceeds the half step,
// then the quarter step. Taken in that order each decision waits for the one
// before; instead the whole and half bits come from three comparisons made
// at once (of half, step and step + half the distance passes none, one, two
// or three: the whole bit is set from two on, the half bit for one or three),
// and only the quarter bit waits. Masks stand in for branches, which audio
// would mispredict.
inline unsigned int EncodeSample(EncoderState& state, int sample) {
    const int step = state.step;
    const int half = step >> 1, quarter = step >> 2, eighth = step >> 3;
    const int difference = sample - state.predicted;
    const int negative = MaskIf(difference < 0);
    const int distance = std::max(difference, -difference);

    const int overHalf = Above(distance, half);
    const int wholeBit = Above(distance, step);
    const int overStepAndHalf = Above(distance, step + half);
    const int halfBit = overHalf ^ wholeBit ^ overStepAndHalf;
    // The whole and half parts taken (0, half, step or step + half), summed
    // from the comparisons: the bits would take one more step to get there.
    const int taken = ((half & overHalf) + ((step - half) & wholeBit)) + (half & overStepAndHalf);
    const int quarterBit = Above(distance, taken + quarter);
    const int magnitude = (wholeBit & 4) | (halfBit & 2) | (quarterBit & 1);

    // What a decoder adds back: the parts taken and the rounding eighth.
    const int delta = taken + eighth + (quarter & quarterBit);
    // A move up can only pass the top of the range and a move down only the
    // bottom; with `bound` the end the move heads for, min and max pick the
    // move and clamp it at once.
    const int bound = kMaxSample + (negative & (kMinSample - kMaxSample));
    state.predicted = std::min(state.predicted + delta, std::max(state.predicted - delta, bound));
    const Successor next = kSuccessors[state.index][magnitude];
    state.index = next.index;
    state.step = next.step;
    return (static_cast<unsigned int>(negative) & kSignBit) | static_cast<unsigned int>(magnitude);
}

// What EncodePacked does after each code, with the sample and the value a
// decoder plays for it (the predictor the code leaves): nothing, or adding
// up the squared error.
struct NoErrorSum {
    void operator()(int, int) const {}
};

struct ErrorSum {
    std::uint64_t squares = 0;
    void operator()(int sample, int played) { squares += Square(sample - played); }
};

// Codes `samples` samples from `state` into dst from bit dstOffset on, as
// the buffer Encode packs them.
template <typename AfterEach = NoErrorSum>
inline void EncodePacked(EncoderState& state, unsigned char* dst, int dstOffset,
                         const short* src, unsigned int samples, AfterEach&& after = AfterEach()) {
    const auto encode = [&state, &after](int sample) {
        const unsigned int code = EncodeSample(state, sample);
        after(sample, state.predicted);
        return code;
    };
    unsigned char* out = dst + (dstOffset >> 3);
    const short* in = src;
    const short* const end = src + samples;
    if (dstOffset & 4) {
        // The first code fills the high nibble of a byte whose low nibble stays.
        *out = PackedCodes(EarlierCode(*out), encode(*in++));
        ++out;
    }
    for (; end - in >= 2; in += 2) {
        const unsigned int earlier = encode(in[0]);
        *out++ = PackedCodes(earlier, encode(in[1]));
    }
    if (in != end) *out = PackedCodes(encode(*in), 0);
}

}  // namespace codec
