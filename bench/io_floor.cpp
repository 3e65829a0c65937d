// The I/O floor of a conversion: everything a run does to its files, with no
// encoding. As the converter does, reads the input's samples 32 blocks at a
// time through a 64 KiB stdio buffer, writes the 60-byte header and then
// 1028 bytes for each 4096 read (or fewer, at the end) through another,
// starting the disk's writing every MiB, puts the file on the disk, renames
// it into place and puts the folder on the disk, so that a whole
// conversion's time can be set beside what its I/O alone costs.
//
//   io_floor input.wav output.wav
#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "wave/wave_output.h"

namespace {

constexpr std::size_t kStreamBufferBytes = 64 * 1024;
constexpr std::size_t kGroupBlocks = 32;
constexpr std::size_t kWriteBehindBytes = 1 << 20;

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
    std::int64_t inputSize;
    const File input = OpenRegularFile(inputPath, inputSize);
    if (!input) return Fail(inputPath, "cannot open");
    std::remove(partPath.c_str());
    File output = CreateNewFile(partPath, partPath);
    if (!output) return Fail(partPath, "cannot create");
    std::setvbuf(input.get(), inputBuffer.data(), _IOFBF, inputBuffer.size());
    std::setvbuf(output.get(), outputBuffer.data(), _IOFBF, outputBuffer.size());

    // The samples of a canonical file start after its 44-byte header.
    std::vector<unsigned char> raw(kGroupBlocks * wave::kInputBytesPerBlock);
    if (std::fread(raw.data(), 1, 44, input.get()) != 44) return Fail(inputPath, "cannot read");
    if (std::fwrite(wave::WaveHeaderTemplate.data(), 1, wave::kHeaderSize, output.get()) !=
        wave::kHeaderSize) {
        return Fail(partPath, "cannot write");
    }
    std::size_t unstarted = 0;
    for (std::size_t got; (got = std::fread(raw.data(), 1, raw.size(), input.get())) > 0;) {
        // Some of what was read goes out, so that neither side can be skipped.
        const std::size_t bytes =
            (got + wave::kInputBytesPerBlock - 1) / wave::kInputBytesPerBlock * wave::kBlockSize;
        if (std::fwrite(raw.data(), 1, bytes, output.get()) != bytes) {
            return Fail(partPath, "cannot write");
        }
        unstarted += bytes;
        if (unstarted >= kWriteBehindBytes) {
            if (!StartWritingToDisk(output.get())) return Fail(partPath, "cannot write");
            unstarted = 0;
        }
    }
    if (std::ferror(input.get())) return Fail(inputPath, "cannot read");
    if (!FlushToDisk(output.get())) return Fail(partPath, "cannot write");
    if (std::fclose(output.release()) != 0) return Fail(partPath, "cannot write");
    if (!MoveOnto(partPath, outputPath)) return Fail(outputPath, "cannot move into place");
    if (!SyncFolderOf(outputPath)) return Fail(outputPath, "cannot sync its folder");
    return 0;
}
