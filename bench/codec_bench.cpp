// Codec speed in nanoseconds a sample, one 2048-sample block an iteration:
// per-sample Encodes, the buffer Encode, the buffer Decode, and the reference
// transcription of the per-sample encoder packing the same block, so the
// speed-up is a ratio taken in one run. Blocks encoded several in one call
// take a group of blocks an iteration, in SSE2 lanes (EncodeBlocks) and on
// the scalar path (EncodeBlocksScalar).
//
// Signals: "speech" is the bundled espeak-ng example, "noise" is white noise
// over the full range. Both cycle through many blocks so that the branch
// predictor cannot learn one block by heart.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "codec/ima_adpcm.h"
#include "codec/blocks.h"
#include "reference_encoder.h"
#include "wave_files.h"
#include "convert/tuning.h"
#include "wave/wave_output.h"

using codec::EncodeBlocks;
using codec::EncodeBlocksScalar;
using codec::kLaterBlockStepIndex;
using convert::kGroupBlocks;
using convert::kRowStride;

namespace {

using wave::kBitsPerCode;
constexpr std::size_t kNoiseBlocks = 64;

using Samples = std::vector<short>;

Samples SpeechSamples() {
    Samples samples = InputSamples(ReadBytes(EXAMPLE_WAV));
    if (samples.size() < kSamplesPerBlock) throw std::runtime_error("cannot read " EXAMPLE_WAV);
    samples.resize(samples.size() / kSamplesPerBlock * kSamplesPerBlock);
    return samples;
}

Samples NoiseSamples() {
    std::mt19937 random(20261207u);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    Samples samples(kNoiseBlocks * kSamplesPerBlock);
    for (short& s : samples) s = static_cast<short>(sample(random));
    return samples;
}

enum class Signal { Speech, Noise };

const Samples& SamplesOf(Signal signal) {
    static const Samples speech = SpeechSamples(), noise = NoiseSamples();
    return signal == Signal::Speech ? speech : noise;
}

// Walks the signal a block at a time, wrapping at its end.
class Blocks {
public:
    explicit Blocks(const Samples& samples) : samples_(samples) {}
    const short* Next() {
        const short* block = samples_.data() + at_;
        at_ = (at_ + kSamplesPerBlock) % samples_.size();
        return block;
    }

private:
    const Samples& samples_;
    std::size_t at_ = 0;
};

// Time a sample, shown in seconds with an SI prefix (e.g. "2.5ns").
void CountSamples(benchmark::State& state) {
    state.counters["per_sample"] = benchmark::Counter(
        static_cast<double>(kSamplesPerBlock),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The buffer Encode re-seeds from these before each block, as in a run past
// its first block.
void SeedLikeALaterBlock(const short* block) {
    HeaderVal = block[0];
    StaticVal = 0;
    x = 1;
}

void BM_Encodes(benchmark::State& state, Signal signal) {
    Blocks blocks(SamplesOf(signal));
    IMA_ADPCM codec;
    for (auto _ : state) {
        const short* block = blocks.Next();
        codec.PredictedValue = block[0];
        codec.StepIndex = 0;
        unsigned int codes = 0;
        for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
            codes += static_cast<unsigned int>(codec.Encodes(block[i]));
        }
        benchmark::DoNotOptimize(codes);
    }
    CountSamples(state);
}

void BM_Encode(benchmark::State& state, Signal signal) {
    Blocks blocks(SamplesOf(signal));
    IMA_ADPCM codec;
    unsigned char packed[kSamplesPerBlock / 2];
    for (auto _ : state) {
        const short* block = blocks.Next();
        SeedLikeALaterBlock(block);
        codec.Encode(packed, 0, block, kSamplesPerBlock * sizeof(short));
        benchmark::DoNotOptimize(packed);
        benchmark::ClobberMemory();
    }
    CountSamples(state);
}

// The transcription coding and packing the same block as the buffer Encode.
void BM_EncodeTranscription(benchmark::State& state, Signal signal) {
    Blocks blocks(SamplesOf(signal));
    unsigned char packed[kSamplesPerBlock / 2];
    for (auto _ : state) {
        const short* block = blocks.Next();
        ReferenceState reference{block[0], 0};
        for (std::size_t i = 0; i < kSamplesPerBlock; i += 2) {
            const int low = ReferenceEncode(reference, block[i]);
            const int high = ReferenceEncode(reference, block[i + 1]);
            packed[i / 2] = static_cast<unsigned char>(low | high << kBitsPerCode);
        }
        benchmark::DoNotOptimize(packed);
        benchmark::ClobberMemory();
    }
    CountSamples(state);
}

// Decodes codes that the encoder made from the signal, as a player would.
void BM_Decode(benchmark::State& state, Signal which) {
    const Samples& signal = SamplesOf(which);
    const std::size_t blockCount = signal.size() / kSamplesPerBlock;
    std::vector<unsigned char> packed(signal.size() / 2);
    IMA_ADPCM codec;
    for (std::size_t b = 0; b < blockCount; ++b) {
        SeedLikeALaterBlock(&signal[b * kSamplesPerBlock]);
        codec.Encode(&packed[b * kSamplesPerBlock / 2], 0, &signal[b * kSamplesPerBlock],
                     kSamplesPerBlock * sizeof(short));
    }
    short decoded[kSamplesPerBlock];
    std::size_t b = 0;
    for (auto _ : state) {
        codec.PredictedValue = signal[b * kSamplesPerBlock];
        codec.StepIndex = 0;
        codec.Decode(decoded, &packed[b * kSamplesPerBlock / 2], 0,
                     kSamplesPerBlock * kBitsPerCode);
        benchmark::DoNotOptimize(decoded);
        benchmark::ClobberMemory();
        b = (b + 1) % blockCount;
    }
    CountSamples(state);
}

// A group of blocks laid out as the converter lays them out (kGroupBlocks,
// kRowStride): each row its block's 2048 samples and the last one again, the
// codes at the places they take in 1028-byte output blocks.
constexpr std::size_t kCodesPerBlock = kSamplesPerBlock;
constexpr std::size_t kCodesStride = kBlockSize;
// Rows 4098 bytes apart fall into nearly the same L1 cache sets, which the
// lanes, reading 8 rows at a time, keep evicting from each other; the
// converter's kRowStride spreads them out.
constexpr std::size_t kDenseRowStride = kCodesPerBlock + 1;

using GroupEncoder = void (*)(const short*, std::size_t, std::size_t, unsigned char*, std::size_t,
                              const unsigned char*, std::size_t, codec::SquaredErrors);

// `summed`: with each block's squared error, as -v has it.
void BM_EncodeGroup(benchmark::State& state, Signal which, GroupEncoder encode,
                    std::size_t rowStride, bool summed = false) {
    const Samples& signal = SamplesOf(which);
    const std::size_t groups = signal.size() / kSamplesPerBlock / kGroupBlocks;
    if (groups == 0) throw std::runtime_error("signal shorter than a group of blocks");
    Samples rows(groups * kGroupBlocks * rowStride);
    for (std::size_t b = 0; b < groups * kGroupBlocks; ++b) {
        const short* block = &signal[b * kSamplesPerBlock];
        short* row = &rows[b * rowStride];
        std::copy(block, block + kSamplesPerBlock, row);
        row[kCodesPerBlock] = row[kCodesPerBlock - 1];
    }
    std::vector<unsigned char> codes(kGroupBlocks * kCodesStride);
    unsigned char indices[kGroupBlocks];
    std::fill_n(indices, kGroupBlocks, kLaterBlockStepIndex);
    std::uint64_t errors[kGroupBlocks];
    std::size_t group = 0;
    for (auto _ : state) {
        encode(&rows[group * kGroupBlocks * rowStride], rowStride, kCodesPerBlock, codes.data(),
               kCodesStride, indices, kGroupBlocks,
               {summed ? errors : nullptr, kCodesPerBlock - 1});
        benchmark::DoNotOptimize(codes.data());
        benchmark::ClobberMemory();
        group = (group + 1) % groups;
    }
    state.counters["per_sample"] = benchmark::Counter(
        static_cast<double>(kGroupBlocks * kSamplesPerBlock),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK_CAPTURE(BM_Encodes, speech, Signal::Speech);
BENCHMARK_CAPTURE(BM_Encodes, noise, Signal::Noise);
BENCHMARK_CAPTURE(BM_Encode, speech, Signal::Speech);
BENCHMARK_CAPTURE(BM_Encode, noise, Signal::Noise);
BENCHMARK_CAPTURE(BM_EncodeTranscription, speech, Signal::Speech);
BENCHMARK_CAPTURE(BM_EncodeTranscription, noise, Signal::Noise);
BENCHMARK_CAPTURE(BM_EncodeGroup, speech, Signal::Speech, EncodeBlocks, kRowStride);
BENCHMARK_CAPTURE(BM_EncodeGroup, noise, Signal::Noise, EncodeBlocks, kRowStride);
BENCHMARK_CAPTURE(BM_EncodeGroup, speech_dense, Signal::Speech, EncodeBlocks, kDenseRowStride);
BENCHMARK_CAPTURE(BM_EncodeGroup, speech_summed, Signal::Speech, EncodeBlocks, kRowStride, true);
BENCHMARK_CAPTURE(BM_EncodeGroup, scalar_speech, Signal::Speech, EncodeBlocksScalar,
                  kRowStride);
BENCHMARK_CAPTURE(BM_EncodeGroup, scalar_noise, Signal::Noise, EncodeBlocksScalar, kRowStride);
BENCHMARK_CAPTURE(BM_EncodeGroup, scalar_speech_summed, Signal::Speech, EncodeBlocksScalar,
                  kRowStride, true);
BENCHMARK_CAPTURE(BM_Decode, speech, Signal::Speech);
BENCHMARK_CAPTURE(BM_Decode, noise, Signal::Noise);

}  // namespace

BENCHMARK_MAIN();
