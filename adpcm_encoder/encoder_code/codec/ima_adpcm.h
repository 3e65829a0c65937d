// IMA ADPCM codec: signed 16-bit samples <-> 4-bit codes.
//
// A code holds the sign in bit 3 and the magnitude (whole, half and quarter
// step) in bits 2..0. Packed buffers hold two codes a byte, the earlier code
// in the low nibble; positions in them are bit offsets, a multiple of 4.
//
// The codec does no I/O and never fails: out-of-range values are clamped.
// The buffer Encode re-seeds the predictor from the program-wide HeaderVal
// and StaticVal on every call, so it is not reentrant; nothing else in the
// codec touches a program-wide value (blocks.h encodes blocks from the
// states it is given).
#pragma once

// The sample that opens the block being encoded; the caller stores it before
// each buffer Encode.
extern short HeaderVal;
// Step-index seed of every buffer Encode but the first of the process.
extern short StaticVal;
// 0 until the first buffer Encode of the process has run EncodeInit, then 1.
extern int x;

class IMA_ADPCM {
public:
    short PredictedValue = 0;
    unsigned char StepIndex = 0;

    // Starts the predictor at sample1 with a step that suits the jump to sample2.
    void EncodeInit(short sample1, short sample2);

    // Encodes one sample and advances the state; returns the code (0..15).
    int Encodes(short sample);

    // Re-seeds the state (from HeaderVal, and from the step EncodeInit
    // chooses for a jump to StaticVal on the process's first call, else from
    // StaticVal), then encodes srcSize bytes of samples (an odd last
    // byte is ignored) into dst from bit dstOffset on. Returns the bits written.
    // A code that goes to a low nibble writes its whole byte, the high nibble
    // becoming 0 (so codes that end on a low nibble leave 0 beside the last);
    // one that goes to a high nibble keeps the low nibble. Bytes before the
    // first code's are left as they were.
    unsigned int Encode(unsigned char* dst, int dstOffset, const short* src,
                        unsigned int srcSize);

    // Decodes one code (only its low 4 bits count); returns the new sample.
    // StepIndex must be within 0..88.
    int Decode(unsigned int code);

    // Decodes srcSize bits of codes (whole codes only) from bit srcOffset of
    // src into dst, continuing from the current state. Returns bytes written.
    unsigned int Decode(short* dst, const unsigned char* src, int srcOffset,
                        unsigned int srcSize);
};
