// Fidelity measurements for bench/fidelity.sh.
//
//   fidelity snr reference.wav encoded.wav
//     Decodes an IMA ADPCM WAVE file of any block layout (samples per block
//     from its format chunk, the length from its fact chunk) with the
//     codec's Decode and prints its SNR in dB against the PCM WAVE it was
//     made from, over the samples both hold.
//
//   fidelity search input.wav width workers [near|all|compatible [per-index]]
//     Encodes a PCM WAVE file in memory, its blocks built as a conversion
//     builds them, with BestBlockEncoder of the given width (and paths a
//     step index) on that many threads, trying the near codes, all codes
//     (the reference), or the near codes from the default's step indices, and prints the SNR of the
//     default encoder's blocks, of the search's, the search's wall-clock seconds, and a digest of
//     its step indices and codes (which must not change with the threads, the build or the
//     platform).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "codec/blocks.h"
#include "codec/ima_adpcm.h"
#include "codec/search.h"
#include "wave/wave_output.h"

using codec::BestBlockEncoder;
using codec::DecodeBlocks;
using codec::EncodeBlocksScalar;
using codec::FirstBlockStepIndex;
using codec::kBestSearchPerIndex;
using codec::kLaterBlockStepIndex;
using codec::SearchCodes;

namespace {

using Bytes = std::vector<unsigned char>;
using Samples = std::vector<short>;

constexpr std::size_t kFirstChunk = 12;
constexpr std::uint16_t kPcmTag = 1;
constexpr std::uint16_t kImaTag = 0x0011;
constexpr std::size_t kBlockHeader = 4;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) throw std::runtime_error(path + ": cannot read");
    return bytes;
}

struct Chunk {
    std::size_t at = 0, size = 0;
    bool found = false;
};

// The chunk named `id`, its size cut to what the file holds.
Chunk FindChunk(const Bytes& file, const char* id) {
    for (std::size_t at = kFirstChunk; at + 8 <= file.size();) {
        const std::size_t size = wave::GetLE32(&file[at + 4]);
        if (std::memcmp(&file[at], id, 4) == 0) {
            return {at + 8, std::min(size, file.size() - at - 8), true};
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

struct Wave {
    std::uint16_t tag = 0, blockAlign = 0, samplesPerBlock = 0;
    Chunk data;
    std::uint64_t length = 0;  // from the fact chunk, if any
};

Wave Parse(const Bytes& file, const std::string& path) {
    if (file.size() < kFirstChunk || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(&file[8], "WAVE", 4) != 0) {
        throw std::runtime_error(path + ": not a WAVE file");
    }
    const Chunk format = FindChunk(file, "fmt ");
    Wave wave;
    wave.data = FindChunk(file, "data");
    if (!format.found || format.size < 16 || !wave.data.found) {
        throw std::runtime_error(path + ": no format or data chunk");
    }
    wave.tag = static_cast<std::uint16_t>(wave::GetLE16(&file[format.at]));
    wave.blockAlign = static_cast<std::uint16_t>(wave::GetLE16(&file[format.at + 12]));
    if (format.size >= 20) {
        wave.samplesPerBlock = static_cast<std::uint16_t>(wave::GetLE16(&file[format.at + 18]));
    }
    const Chunk fact = FindChunk(file, "fact");
    if (fact.found && fact.size >= 4) wave.length = wave::GetLE32(&file[fact.at]);
    return wave;
}

Samples PcmSamples(const std::string& path) {
    const Bytes file = ReadFile(path);
    const Wave wave = Parse(file, path);
    if (wave.tag != kPcmTag) throw std::runtime_error(path + ": not 16-bit PCM");
    Samples samples(wave.data.size / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = wave::GetLE16(&file[wave.data.at + 2 * i]);
    }
    return samples;
}

// Each block: the opening sample, the step index, a zero byte, then codes.
Samples DecodeIma(const std::string& path) {
    const Bytes file = ReadFile(path);
    const Wave wave = Parse(file, path);
    if (wave.tag != kImaTag || wave.blockAlign <= kBlockHeader) {
        throw std::runtime_error(path + ": not mono IMA ADPCM");
    }
    const std::size_t codes =
        std::min<std::size_t>(wave.samplesPerBlock - 1, 2 * (wave.blockAlign - kBlockHeader));
    Samples samples;
    for (std::size_t at = wave.data.at; at + wave.blockAlign <= wave.data.at + wave.data.size;
         at += wave.blockAlign) {
        IMA_ADPCM codec;
        codec.PredictedValue = wave::GetLE16(&file[at]);
        codec.StepIndex = std::min<unsigned char>(file[at + 2], 88);
        samples.push_back(codec.PredictedValue);
        const std::size_t first = samples.size();
        samples.resize(first + codes);
        codec.Decode(&samples[first], &file[at + kBlockHeader], 0,
                     static_cast<unsigned int>(codes * wave::kBitsPerCode));
    }
    if (wave.length != 0 && wave.length < samples.size()) samples.resize(wave.length);
    return samples;
}

double SnrDb(const Samples& reference, const Samples& decoded) {
    const std::size_t n = std::min(reference.size(), decoded.size());
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double sample = reference[i], error = sample - decoded[i];
        signal += sample * sample;
        noise += error * error;
    }
    if (noise == 0) return INFINITY;
    return 10 * std::log10(signal / noise);
}

constexpr std::size_t kRowLength = wave::kSamplesPerBlock + 1;

// Rows as a conversion builds them: the 2048 samples of each block, the last
// of them repeated, and a last block filled up with its last sample.
Samples Rows(const Samples& samples) {
    const std::size_t blocks = wave::BlocksFor(samples.size());
    Samples rows(blocks * kRowLength);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t first = b * wave::kSamplesPerBlock;
        const std::size_t count = std::min(samples.size() - first, wave::kSamplesPerBlock);
        short* row = &rows[b * kRowLength];
        std::copy_n(&samples[first], count, row);
        std::fill(row + count, row + kRowLength, row[count - 1]);
    }
    return rows;
}

// Decodes blocks of 2048 codes: the header's sample, then 2047 codes.
Samples DecodeBlocks(const Samples& rows, const Bytes& codes, const Bytes& indices,
                     std::size_t length) {
    const std::size_t blocks = indices.size(), bytes = wave::kSamplesPerBlock / 2;
    Samples samples(blocks * wave::kSamplesPerBlock);
    for (std::size_t b = 0; b < blocks; ++b) {
        IMA_ADPCM codec;
        codec.PredictedValue = rows[b * kRowLength];
        codec.StepIndex = indices[b];
        short* out = &samples[b * wave::kSamplesPerBlock];
        out[0] = codec.PredictedValue;
        codec.Decode(out + 1, &codes[b * bytes], 0,
                     static_cast<unsigned int>((wave::kSamplesPerBlock - 1) * wave::kBitsPerCode));
    }
    samples.resize(length);
    return samples;
}

// FNV-1a, 64 bits.
std::uint64_t Digest(const Bytes& indices, const Bytes& codes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const Bytes* bytes : {&indices, &codes}) {
        for (const unsigned char byte : *bytes) hash = (hash ^ byte) * 1099511628211ull;
    }
    return hash;
}

// `how`: "near" (what --best tries), "all" (every code: the reference), or
// "compatible" (the default's step indices kept, only the codes searched).
int Search(const std::string& path, std::size_t width, std::size_t workers, const std::string& how,
           std::size_t perIndex) {
    const Samples input = PcmSamples(path);
    if (input.empty()) throw std::runtime_error(path + ": no samples");
    const Samples rows = Rows(input);
    const std::size_t blocks = rows.size() / kRowLength, bytes = wave::kSamplesPerBlock / 2;

    Bytes codes(blocks * bytes), indices(blocks, kLaterBlockStepIndex);
    if (blocks > 0) indices[0] = FirstBlockStepIndex(rows[0]);
    EncodeBlocksScalar(rows.data(), kRowLength, wave::kSamplesPerBlock, codes.data(), bytes,
                       indices.data(), blocks);
    const double defaultSnr = SnrDb(input, DecodeBlocks(rows, codes, indices, input.size()));

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            BestBlockEncoder encoder(width, perIndex,
                                     how == "all" ? SearchCodes::All : SearchCodes::Near);
            for (std::size_t b = w; b < blocks; b += workers) {
                if (how == "compatible") {
                    encoder.EncodeFrom(&rows[b * kRowLength], wave::kSamplesPerBlock, indices[b],
                                       &codes[b * bytes]);
                } else {
                    indices[b] = encoder.Encode(&rows[b * kRowLength], wave::kSamplesPerBlock,
                                                &codes[b * bytes]);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    const double bestSnr = SnrDb(input, DecodeBlocks(rows, codes, indices, input.size()));
    std::printf("%.2f %.2f %.3f %016llx\n", defaultSnr, bestSnr, seconds.count(),
                static_cast<unsigned long long>(Digest(indices, codes)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "snr" && argc == 4) {
            std::printf("%.2f\n", SnrDb(PcmSamples(argv[2]), DecodeIma(argv[3])));
            return 0;
        }
        if (command == "search" && argc >= 5 && argc <= 7) {
            return Search(argv[2], std::stoul(argv[3]), std::stoul(argv[4]),
                          argc >= 6 ? argv[5] : "near",
                          argc == 7 ? std::stoul(argv[6]) : kBestSearchPerIndex);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fidelity: %s\n", e.what());
        return 1;
    }
    std::fprintf(
        stderr,
        "usage: fidelity snr reference.wav encoded.wav\n"
        "       fidelity search input.wav width workers [near|all|compatible [per-index]]\n");
    return 2;
}
