// Helpers for the tests that check the audio in pcm-encoder's output: our
// block-by-block decoding of an output file, the encoder's own reconstruction
// of an input, a reader for the PCM WAVE files that other decoders write, and
// the signal-to-noise ratio between two signals.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "codec/ima_adpcm.h"
#include "reference_encoder.h"
#include "test_support.h"

inline std::size_t BlocksIn(const Bytes& output) {
    return output.size() < kHeaderSize ? 0 : (output.size() - kHeaderSize) / kBlockSize;
}

// Runs the program on `input` in the test's work folder; returns the output.
inline Bytes ConvertedOutput(const TempDir& temp, const Bytes& input) {
    WriteBytes(temp.work() / "in.wav", input);
    const RunResult run = RunEncoder(temp, {"in.wav"});
    if (run.status == 0) return ReadBytes(temp.work() / "Enc_in.wav");
    // Said here: a later run in the same test would stand in its place.
    ADD_FAILURE() << "the conversion failed: status " << run.status << ", standard output \""
                  << run.out << "\", standard error \"" << run.err << "\"";
    return Bytes();
}

// Each block: the opening sample and step index from its header are loaded
// into the codec, then its first 2047 codes give the block's other samples.
// Samples filled up to whole blocks with the last of them, as the program
// fills its last block.
inline std::vector<short> PaddedToBlocks(std::vector<short> samples) {
    const std::size_t blocks = (samples.size() + kSamplesPerBlock - 1) / kSamplesPerBlock;
    if (!samples.empty()) samples.resize(blocks * kSamplesPerBlock, samples.back());
    return samples;
}

inline std::vector<short> DecodeOutput(const Bytes& output) {
    std::vector<short> samples(BlocksIn(output) * kSamplesPerBlock);
    for (std::size_t b = 0; b < BlocksIn(output); ++b) {
        const std::size_t block = kHeaderSize + b * kBlockSize;
        short* out = samples.data() + b * kSamplesPerBlock;
        IMA_ADPCM codec;
        codec.PredictedValue = out[0] = LE16At(output, block);
        codec.StepIndex = output[block + 2];
        codec.Decode(out + 1, output.data() + block + kBlockHeaderSize, 0,
                     (kSamplesPerBlock - 1) * 4);
    }
    return samples;
}

// What the encoder predicted while coding each block, worked out with the
// reference transcription from the input and the step index the block names.
inline std::vector<short> EncoderReconstruction(const std::vector<short>& input,
                                                const Bytes& output) {
    std::vector<short> samples(BlocksIn(output) * kSamplesPerBlock);
    for (std::size_t first = 0; first < samples.size(); first += kSamplesPerBlock) {
        const std::size_t block = kHeaderSize + first / kSamplesPerBlock * kBlockSize;
        ReferenceState state{input[first], output[block + 2]};
        samples[first] = input[first];
        for (std::size_t i = 1; i < kSamplesPerBlock; ++i) {
            ReferenceEncode(state, input[first + i]);
            samples[first + i] = static_cast<short>(state.predicted);
        }
    }
    return samples;
}

// The 16-bit samples of a PCM WAVE file, found by walking its chunks;
// nothing when the file is no 16-bit PCM WAVE file.
inline std::optional<std::vector<short>> PcmWaveSamples(const Bytes& file) {
    constexpr std::size_t kChunksStart = 12, kChunkHeader = 8;
    std::optional<std::vector<short>> samples;
    bool pcm16 = false;
    for (std::size_t at = kChunksStart; at + kChunkHeader <= file.size();) {
        const std::uint32_t size = LE32At(file, at + 4);
        const std::size_t body = at + kChunkHeader;
        if (body + size > file.size()) break;
        if (std::memcmp(&file[at], "fmt ", 4) == 0 && size >= 16) {
            pcm16 = LE16At(file, body) == 1 && LE16At(file, body + 14) == 16;
        } else if (std::memcmp(&file[at], "data", 4) == 0 && pcm16) {
            samples.emplace(size / 2);
            for (std::size_t i = 0; i < samples->size(); ++i) {
                (*samples)[i] = LE16At(file, body + 2 * i);
            }
        }
        at = body + size + size % 2;
    }
    return samples;
}

inline double SquaredError(const std::vector<short>& reference, const std::vector<short>& decoded) {
    double sum = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double error = decoded[i] - reference[i];
        sum += error * error;
    }
    return sum;
}

// Signal-to-noise ratio in dB of `decoded` against `reference` (same length).
inline double SnrDb(const std::vector<short>& reference, const std::vector<short>& decoded) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double wanted = reference[i], error = decoded[i] - wanted;
        signal += wanted * wanted;
        noise += error * error;
    }
    return 10 * std::log10(signal / noise);
}
