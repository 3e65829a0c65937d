// A reference transcription of the IMA ADPCM per-sample encoder, one statement a
// rule, kept apart from the product so the codec can be checked against it.
#pragma once

#include <algorithm>

struct ReferenceState {
    int predicted;
    int index;
};

inline const int kReferenceSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

inline int ReferenceEncode(ReferenceState& s, int sample) {
    const int indexChange[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    int step = kReferenceSteps[s.index];
    int diff = sample - s.predicted;
    int code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    int delta = step >> 3;
    if (diff > step) {
        code |= 4;
        diff -= step;
        delta += step;
    }
    step >>= 1;
    if (diff > step) {
        code |= 2;
        diff -= step;
        delta += step;
    }
    step >>= 1;
    if (diff > step) {
        code |= 1;
        delta += step;
    }
    s.predicted = std::clamp((code & 8) ? s.predicted - delta : s.predicted + delta, -32768, 32767);
    s.index = std::clamp(s.index + indexChange[code & 7], 0, 88);
    return code;
}
