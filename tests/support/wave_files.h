// WAVE files and raw bytes for the tests, the fuzz targets and the benchmark:
// reading and writing whole files, little-endian fields, canonical PCM WAVE
// images and the chunks that other writers put around their data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "wave/wave_output.h"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

using wave::kBlockHeaderSize, wave::kBlockSize, wave::kHeaderSize, wave::kInputBytesPerBlock,
    wave::kSamplesPerBlock;

inline std::uint32_t LE32At(const Bytes& bytes, std::size_t at) {
    return wave::GetLE32(&bytes[at]);
}

inline short LE16At(const Bytes& bytes, std::size_t at) { return wave::GetLE16(&bytes[at]); }

inline void PutLE(Bytes& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

struct WaveFields {
    std::uint32_t formatChunkSize = 16;
    std::uint16_t channels = 1;
    std::uint32_t rate = 22050;
    std::uint16_t formatTag = 1;  // PCM
    std::uint16_t bitsPerSample = 16;
};

// A canonical 44-byte-header PCM WAVE file holding `samples`.
inline Bytes PcmWave(const std::vector<short>& samples, WaveFields fields = {}) {
    const std::uint32_t dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    Bytes out;
    for (char c : std::string("RIFF")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, 36 + dataSize, 4);
    for (char c : std::string("WAVEfmt ")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, fields.formatChunkSize, 4);
    PutLE(out, fields.formatTag, 2);
    PutLE(out, fields.channels, 2);
    PutLE(out, fields.rate, 4);
    PutLE(out, fields.rate * fields.bitsPerSample / 8 * fields.channels, 4);
    PutLE(out, fields.bitsPerSample / 8 * fields.channels, 2);
    PutLE(out, fields.bitsPerSample, 2);
    for (char c : std::string("data")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, dataSize, 4);
    for (short s : samples) PutLE(out, static_cast<std::uint16_t>(s), 2);
    return out;
}

// Where a canonical file's chunks after the format chunk begin: the data
// chunk's header, and its samples.
constexpr std::size_t kCanonicalDataChunkAt = 36, kCanonicalSamplesAt = 44;

// A chunk as it lies in a file: identifier, size, body and the pad byte that
// follows a body of odd size.
inline Bytes Chunk(const std::string& id, std::size_t bodySize, unsigned char fill = 0x55) {
    Bytes chunk(id.begin(), id.end());
    PutLE(chunk, static_cast<std::uint32_t>(bodySize), 4);
    chunk.insert(chunk.end(), bodySize, fill);
    chunk.insert(chunk.end(), bodySize % 2, 0);
    return chunk;
}

inline Bytes Inserted(Bytes file, std::size_t at, const Bytes& bytes) {
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
    return file;
}

inline Bytes WithLE32(Bytes file, std::size_t at, std::uint32_t value) {
    wave::PutLE32(file, at, value);
    return file;
}

// The RIFF size that a writer which finished its file leaves: its size less 8.
inline Bytes Completed(Bytes file) {
    return WithLE32(file, 4, static_cast<std::uint32_t>(file.size() - 8));
}

// A canonical file with another format chunk body in place of its own.
inline Bytes WithFormatBody(const Bytes& canonical, const Bytes& body) {
    Bytes file(canonical.begin(), canonical.begin() + 12);
    const Bytes format = Chunk("fmt ", body.size());
    file.insert(file.end(), format.begin(), format.begin() + 8);
    file.insert(file.end(), body.begin(), body.end());
    file.insert(file.end(), canonical.begin() + kCanonicalDataChunkAt, canonical.end());
    return Completed(file);
}

// An extensible format chunk body for 22050 Hz mono, its sub-format a GUID
// that carries `subFormatTag`.
inline Bytes ExtensibleFormat(std::uint16_t subFormatTag, std::uint16_t bits,
                              std::uint16_t validBits) {
    Bytes body;
    PutLE(body, 0xFFFE, 2);
    PutLE(body, 1, 2);  // mono
    PutLE(body, 22050, 4);
    PutLE(body, 22050u * bits / 8, 4);
    PutLE(body, bits / 8u, 2);
    PutLE(body, bits, 2);
    PutLE(body, 22, 2);  // extra bytes
    PutLE(body, validBits, 2);
    PutLE(body, 4, 4);  // front centre
    PutLE(body, subFormatTag, 2);
    body.insert(body.end(), std::begin(wave::kSubFormatGuidTail), std::end(wave::kSubFormatGuidTail));
    return body;
}

// As ffmpeg writes a canonical file with -rf64 always: RF64, sizes of 0xFFFFFFFF
// and the true ones in a ds64 chunk before the format chunk.
inline Bytes AsRf64(const Bytes& canonical) {
    Bytes ds64 = Chunk("ds64", 28, 0);
    wave::PutLE32(ds64, 8 + 8, LE32At(canonical, kCanonicalDataChunkAt + 4));
    Bytes file = WithLE32(WithLE32(Inserted(canonical, 12, ds64), 4, 0xFFFFFFFF),
                          kCanonicalDataChunkAt + ds64.size() + 4, 0xFFFFFFFF);
    for (std::size_t i = 0; i < 4; ++i) file[i] = static_cast<unsigned char>("RF64"[i]);
    return file;
}

// The samples of a canonical PCM WAVE file: everything from offset 44 on.
inline std::vector<short> InputSamples(const Bytes& file) {
    const std::size_t bytes =
        file.size() > kCanonicalSamplesAt ? file.size() - kCanonicalSamplesAt : 0;
    std::vector<short> samples(bytes / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = LE16At(file, kCanonicalSamplesAt + 2 * i);
    }
    return samples;
}

inline std::vector<short> NoisySamples(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 3000.0);
    std::vector<short> samples(count);
    double level = 0;
    for (short& s : samples) {
        level = 0.95 * level + noise(random);
        s = static_cast<short>(level < -32768 ? -32768 : level > 32767 ? 32767 : level);
    }
    return samples;
}
