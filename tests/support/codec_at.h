// A codec object in a chosen state, for the codec's unit tests.
#pragma once

#include "codec/ima_adpcm.h"

inline IMA_ADPCM CodecAt(short predicted, unsigned char index) {
    IMA_ADPCM codec;
    codec.PredictedValue = predicted;
    codec.StepIndex = index;
    return codec;
}
