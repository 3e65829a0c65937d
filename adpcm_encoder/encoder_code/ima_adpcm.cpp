#include "ima_adpcm.h"

#include <cstdlib>

short HeaderVal = 0;
short StaticVal = 0;
int x = 0;

namespace {

constexpr int kMinSample = -32768;
constexpr int kMaxSample = 32767;
constexpr int kMaxStepIndex = 88;
constexpr unsigned int kSignBit = 8;
constexpr unsigned int kMagnitudeBits = 7;
constexpr unsigned int kCodeBits = 4;
constexpr unsigned int kNibbleMask = 0x0F;

const unsigned short IMA_ADPCMStepTable[kMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,
    19,    21,    23,    25,    28,    31,    34,    37,    41,    45,
    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,
    337,   371,   408,   449,   494,   544,   598,   658,   724,   796,
    876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,
    5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899,
    15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int IMA_ADPCMIndexTable[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

int Clamp(int value, int low, int high) {
    return value < low ? low : (value > high ? high : value);
}

short ClampToSample(int value) {
    return static_cast<short>(Clamp(value, kMinSample, kMaxSample));
}

unsigned char NextStepIndex(unsigned char index, unsigned int code) {
    return static_cast<unsigned char>(
        Clamp(index + IMA_ADPCMIndexTable[code & kMagnitudeBits], 0, kMaxStepIndex));
}

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

}  // namespace

void IMA_ADPCM::EncodeInit(short sample1, short sample2) {
    PredictedValue = sample1;
    StepIndex = StepIndexForJump(sample2 - sample1);
}

int IMA_ADPCM::Encodes(short sample) {
    int step = IMA_ADPCMStepTable[StepIndex];
    int difference = sample - PredictedValue;
    unsigned int code = 0;
    if (difference < 0) {
        code = kSignBit;
        difference = -difference;
    }
    // The quantity a decoder will add back for this code, built up alongside
    // the code so encoder and decoder keep the same predictor.
    int delta = step >> 3;
    if (difference > step) {
        code |= 4;
        difference -= step;
        delta += step;
    }
    step >>= 1;
    if (difference > step) {
        code |= 2;
        difference -= step;
        delta += step;
    }
    step >>= 1;
    if (difference > step) {
        code |= 1;
        delta += step;
    }
    PredictedValue = ClampToSample((code & kSignBit) ? PredictedValue - delta
                                                     : PredictedValue + delta);
    StepIndex = NextStepIndex(StepIndex, code);
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
    // process, and to a plain re-seed from HeaderVal and StaticVal afterwards.
    PredictedValue = HeaderVal;
    StepIndex = SeedStepIndex();
    if (x == 0) {
        ++x;
    }

    unsigned char* out = dst + (dstOffset >> 3);
    bool highNibble = (dstOffset & 4) != 0;
    const unsigned int samples = srcSize / sizeof(short);
    for (unsigned int i = 0; i < samples; ++i) {
        const unsigned int code = static_cast<unsigned int>(Encodes(src[i]));
        if (highNibble) {
            *out = static_cast<unsigned char>((*out & kNibbleMask) | (code << kCodeBits));
            ++out;
        } else {
            *out = static_cast<unsigned char>(code);
        }
        highNibble = !highNibble;
    }
    return samples * kCodeBits;
}

int IMA_ADPCM::Decode(unsigned int code) {
    const int step = IMA_ADPCMStepTable[StepIndex];
    StepIndex = NextStepIndex(StepIndex, code);
    int delta = step >> 3;
    if (code & 4) delta += step;
    if (code & 2) delta += step >> 1;
    if (code & 1) delta += step >> 2;
    PredictedValue = ClampToSample((code & kSignBit) ? PredictedValue - delta
                                                     : PredictedValue + delta);
    return PredictedValue;
}

unsigned int IMA_ADPCM::Decode(short* dst, const unsigned char* src, int srcOffset,
                               unsigned int srcSize) {
    const unsigned char* in = src + (srcOffset >> 3);
    bool highNibble = (srcOffset & 4) != 0;
    const unsigned int codes = srcSize / kCodeBits;
    for (unsigned int i = 0; i < codes; ++i) {
        const unsigned int code = highNibble ? (*in++ >> kCodeBits) : (*in & kNibbleMask);
        dst[i] = static_cast<short>(Decode(code));
        highNibble = !highNibble;
    }
    return codes * sizeof(short);
}
