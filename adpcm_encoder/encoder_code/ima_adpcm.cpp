#include "ima_adpcm.h"
#include "ima_adpcm_tables.h"

#include <algorithm>
#include <array>
#include <cstdlib>

short HeaderVal = 0;
short StaticVal = 0;
int x = 0;

namespace {

constexpr unsigned int kCodeBits = 4;
constexpr unsigned int kNibbleMask = 0x0F;

// The smallest step that covers a jump of `difference`; the last step ends
// the search, so every jump gets an index.
unsigned char StepIndexForJump(int difference) {
    const int jump = std::abs(difference);
    unsigned char index = 0;
    while (index < kMaxStepIndex && IMA_ADPCMStepTable[index] < jump) {
        ++index;
    }
    return index;
}

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
    return (static_cast<unsigned int>(negative) & kSignMask) | static_cast<unsigned int>(magnitude);
}

}  // namespace

void IMA_ADPCM::EncodeInit(short sample1, short sample2) {
    PredictedValue = sample1;
    StepIndex = StepIndexForJump(sample2 - sample1);
}

int IMA_ADPCM::Encodes(short sample) {
    EncoderState state{PredictedValue, StepIndex, IMA_ADPCMStepTable[StepIndex]};
    const unsigned int code = EncodeSample(state, sample);
    PredictedValue = static_cast<short>(state.predicted);
    StepIndex = static_cast<unsigned char>(state.index);
    return static_cast<int>(code);
}

unsigned char IMA_ADPCM::SeedStepIndex() {
    // The first buffer Encode of the process starts from the step that suits
    // the opening sample (EncodeInit); every later one from StaticVal.
    return x == 0 ? StepIndexForJump(StaticVal - HeaderVal)
                  : static_cast<unsigned char>(StaticVal);
}

unsigned int IMA_ADPCM::Encode(unsigned char* dst, int dstOffset, const short* src,
                               unsigned int srcSize) {
    // Equal to EncodeInit(HeaderVal, StaticVal) on the first call of the
    // process, and to a bare re-seed from HeaderVal and StaticVal afterwards.
    PredictedValue = HeaderVal;
    StepIndex = SeedStepIndex();
    if (x == 0) {
        ++x;
    }

    const unsigned int samples = srcSize / sizeof(short);
    if (samples == 0) return 0;
    EncoderState state{PredictedValue, StepIndex, IMA_ADPCMStepTable[StepIndex]};
    unsigned char* out = dst + (dstOffset >> 3);
    const short* in = src;
    const short* const end = src + samples;
    if (dstOffset & 4) {
        // The first code fills the high nibble of a byte whose low nibble stays.
        *out = static_cast<unsigned char>((*out & kNibbleMask) | EncodeSample(state, *in++)
                                                                     << kCodeBits);
        ++out;
    }
    for (; end - in >= 2; in += 2) {
        const unsigned int low = EncodeSample(state, in[0]);
        const unsigned int high = EncodeSample(state, in[1]);
        *out++ = static_cast<unsigned char>(low | high << kCodeBits);
    }
    if (in != end) *out = static_cast<unsigned char>(EncodeSample(state, *in));
    PredictedValue = static_cast<short>(state.predicted);
    StepIndex = static_cast<unsigned char>(state.index);
    return samples * kCodeBits;
}

int IMA_ADPCM::Decode(unsigned int code) {
    DecoderState state{PredictedValue, StepIndex};
    DecodeCode(state, code);
    PredictedValue = static_cast<short>(state.predicted);
    StepIndex = static_cast<unsigned char>(state.index);
    return state.predicted;
}

// The state is kept in locals: stores to dst could otherwise stand for
// stores to the fields, which would be read back for every code.
unsigned int IMA_ADPCM::Decode(short* dst, const unsigned char* src, int srcOffset,
                               unsigned int srcSize) {
    const unsigned char* in = src + (srcOffset >> 3);
    bool highNibble = (srcOffset & 4) != 0;
    const unsigned int codes = srcSize / kCodeBits;
    DecoderState state{PredictedValue, StepIndex};
    for (unsigned int i = 0; i < codes; ++i) {
        const unsigned int code = highNibble ? (*in++ >> kCodeBits) : (*in & kNibbleMask);
        dst[i] = static_cast<short>(DecodeCode(state, code));
        highNibble = !highNibble;
    }
    PredictedValue = static_cast<short>(state.predicted);
    StepIndex = static_cast<unsigned char>(state.index);
    return codes * sizeof(short);
}
