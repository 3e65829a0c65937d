// The I/O floor of a conversion: everything a run does to its files, with no
// encoding. Reads the input's samples a block at a time through a 64 KiB
// stdio buffer, writes the 60-byte header and a 1028-byte block for each
// 4096 bytes read through another, puts the file on the disk and renames it
// into place, as the converter does, so that a whole conversion's time can
// be set beside what its I/O alone costs.
//
//   io_floor input.wav output.wav
#include <cstdio>
#include <string>
#include <vector>

#include "file_system.h"
#include "wave_layout.h"

namespace {

constexpr std::size_t kStreamBufferBytes = 64 * 1024;

int Fail(const std::string& path, const char* what) {
    std::perror((path + ": " + what).c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: io_floor input.wav output.wav\n");
        return 2;
    }
    const std::string inputPath = argv[1], outputPath = argv[2];
    const std::string partPath = outputPath + ".part";
    std::vector<char> inputBuffer(kStreamBufferBytes), outputBuffer(kStreamBufferBytes);
    const File input = OpenRegularFile(inputPath);
    if (!input) return Fail(inputPath, "cannot open");
    std::remove(partPath.c_str());
    File output = CreateNewFile(partPath, partPath);
    if (!output) return Fail(partPath, "cannot create");
    std::setvbuf(input.get(), inputBuffer.data(), _IOFBF, inputBuffer.size());
    std::setvbuf(output.get(), outputBuffer.data(), _IOFBF, outputBuffer.size());

    // The samples of a canonical file start after its 44-byte header.
    unsigned char raw[wave::kInputBytesPerBlock];
    if (std::fread(raw, 1, 44, input.get()) != 44) return Fail(inputPath, "cannot read");
    if (std::fwrite(wave::WaveHeaderTemplate.data(), 1, wave::kHeaderSize, output.get()) !=
        wave::kHeaderSize) {
        return Fail(partPath, "cannot write");
    }
    while (std::fread(raw, 1, sizeof raw, input.get()) == sizeof raw) {
        // Some of what was read goes out, so that neither side can be skipped.
        if (std::fwrite(raw, 1, wave::kBlockSize, output.get()) != wave::kBlockSize) {
            return Fail(partPath, "cannot write");
        }
    }
    if (std::ferror(input.get())) return Fail(inputPath, "cannot read");
    if (!FlushToDisk(output.get())) return Fail(partPath, "cannot write");
    if (std::fclose(output.release()) != 0) return Fail(partPath, "cannot write");
    if (!MoveOnto(partPath, outputPath)) return Fail(outputPath, "cannot move into place");
    return 0;
}
