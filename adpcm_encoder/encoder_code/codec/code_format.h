// What every IMA ADPCM code and block header holds, for the codec and for
// the layers that read and write its blocks: 4 bits a code, a step index
// from 0 to kMaxStepIndex.
#pragma once

namespace codec {

inline constexpr int kMaxStepIndex = 88;
inline constexpr unsigned int kCodeBits = 4;

}  // namespace codec
