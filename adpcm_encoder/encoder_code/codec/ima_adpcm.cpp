#include "codec/ima_adpcm.h"

#include <cstdlib>

#include "codec/internal/sample_encoder.h"
#include "codec/internal/tables.h"

short HeaderVal = 0;
short StaticVal = 0;
int x = 0;

using codec::EncodePacked;
using codec::EncoderState;
using codec::EncodeSample;
using codec::DecodeCode;
using codec::DecoderState;
using codec::EarlierCode;
using codec::LaterCode;
using codec::kCodeBits;
using codec::kMaxStepIndex;

namespace {

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
    EncoderState state{PredictedValue, StepIndex, IMA_ADPCMStepTable[StepIndex]};
    const unsigned int code = EncodeSample(state, sample);
    PredictedValue = static_cast<short>(state.predicted);
    StepIndex = static_cast<unsigned char>(state.index);
    return static_cast<int>(code);
}

unsigned int IMA_ADPCM::Encode(unsigned char* dst, int dstOffset, const short* src,
                               unsigned int srcSize) {
    if (x == 0) {
        EncodeInit(HeaderVal, StaticVal);
        ++x;
    } else {
        PredictedValue = HeaderVal;
        StepIndex = static_cast<unsigned char>(StaticVal);
    }
    const unsigned int samples = srcSize / sizeof(short);
    if (samples == 0) return 0;
    EncoderState state{PredictedValue, StepIndex, IMA_ADPCMStepTable[StepIndex]};
    EncodePacked(state, dst, dstOffset, src, samples);
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
        const unsigned int code = highNibble ? LaterCode(*in++) : EarlierCode(*in);
        dst[i] = static_cast<short>(DecodeCode(state, code));
        highNibble = !highNibble;
    }
    PredictedValue = static_cast<short>(state.predicted);
    StepIndex = static_cast<unsigned char>(state.index);
    return codes * sizeof(short);
}
