// WAVE files and raw bytes for the tests and the fuzz targets: reading and
// writing whole files, little-endian fields, and canonical PCM WAVE images.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t LE32At(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

inline void PutLE(Bytes& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

struct WaveFields {
    std::uint32_t formatChunkSize = 16;
    std::uint16_t channels = 1;
    std::uint32_t rate = 22050;
};

// A canonical 44-byte-header PCM WAVE file holding `samples`.
inline Bytes PcmWave(const std::vector<short>& samples, WaveFields fields = {}) {
    const std::uint32_t dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    Bytes out;
    for (char c : std::string("RIFF")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, 36 + dataSize, 4);
    for (char c : std::string("WAVEfmt ")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, fields.formatChunkSize, 4);
    PutLE(out, 1, 2);
    PutLE(out, fields.channels, 2);
    PutLE(out, fields.rate, 4);
    PutLE(out, fields.rate * 2 * fields.channels, 4);
    PutLE(out, 2 * fields.channels, 2);
    PutLE(out, 16, 2);
    for (char c : std::string("data")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, dataSize, 4);
    for (short s : samples) PutLE(out, static_cast<std::uint16_t>(s), 2);
    return out;
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
