// Writes the fuzz targets' seed corpus into the folder given as the argument:
// small WAVE files around the converter's decisions (accepted with 0, 1 and 2
// blocks, tails, loud and quiet samples, chunks around the data and data
// sizes never written, extensible and RF64, and the rejected kinds). The
// convert fuzzer reads some inputs as files and the rest as recipes.
#include <cstdio>
#include <string>
#include <vector>

#include "wave_files.h"

namespace {

struct Seed {
    const char* name;
    Bytes bytes;
};

Bytes Truncated(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

std::vector<short> FullScale(std::size_t count) {
    std::vector<short> samples(count);
    for (std::size_t i = 0; i < count; ++i) samples[i] = i % 2 ? 32767 : -32768;
    return samples;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    const std::vector<short> oneBlock = NoisySamples(2048, 1);
    Bytes withTail = PcmWave(NoisySamples(2 * 2048 + 5, 2));
    withTail.push_back(0x7F);
    const Seed seeds[] = {
        {"no-samples.wav", PcmWave({})},
        {"format-chunk-only.wav", Truncated(PcmWave({}), 36)},
        {"too-short.wav", Truncated(PcmWave({}), 35)},
        {"one-block.wav", PcmWave(oneBlock)},
        {"one-block-short.wav", PcmWave(std::vector<short>(oneBlock.begin(), oneBlock.end() - 1))},
        {"two-blocks-tail.wav", withTail},
        {"full-scale.wav", PcmWave(FullScale(2048))},
        {"list-before-data.wav",
         Inserted(PcmWave(oneBlock), kCanonicalDataChunkAt, Chunk("LIST", 26))},
        {"odd-chunk-after-data.wav", Inserted(withTail, withTail.size(), Chunk("id3 ", 7))},
        {"data-size-unwritten.wav", WithLE32(PcmWave(oneBlock), kCanonicalDataChunkAt + 4, 0)},
        {"data-size-streamed.wav",
         WithLE32(PcmWave(oneBlock), kCanonicalDataChunkAt + 4, 0xFFFFFFFF)},
        {"8-bit.wav", PcmWave(oneBlock, {16, 1, 22050, 1, 8})},
        {"stereo.wav", PcmWave(oneBlock, {16, 2, 22050})},
        {"44100.wav", PcmWave(oneBlock, {16, 1, 44100})},
        {"extended-format.wav", PcmWave(oneBlock, {20, 1, 22050})},
        {"extensible.wav", WithFormatBody(PcmWave(oneBlock), ExtensibleFormat(1, 16, 16))},
        {"rf64.wav", AsRf64(withTail)},
    };
    for (const Seed& seed : seeds) WriteBytes(folder / seed.name, seed.bytes);
    return 0;
}
