// The I/O floor of a conversion: everything a run does to its files, with no
// encoding. As the converter does, reads the input's samples 32 blocks at a
// time through a 64 KiB stdio buffer, writes the 60-byte header and then
// 1028 bytes for each 4096 read (or fewer, at the end) through another,
// starting the disk's writing every MiB, puts the file on the disk, renames
// it into place and puts the folder on the disk, so that a whole
// conversion's time can be set beside what its I/O alone costs.
//
//   io_floor input.wav output.wav
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "convert/tuning.h"
#include "platform/file_system.h"
#include "platform/stream.h"
#include "wave/wave_output.h"

using convert::kGroupBlocks;
using convert::kStreamBufferBytes;
using convert::kWriteBehindBytes;
using platform::Close;
using platform::CreateNewFile;
using platform::FlushToDisk;
using platform::MoveOnto;
using platform::OpenRegularFile;
using platform::Opened;
using platform::ReadExactly;
using platform::ReadFailure;
using platform::StartWritingToDisk;
using platform::SyncFolderOf;
using platform::SystemError;
using platform::WriteExactly;

namespace {

int Fail(const std::string& path, const char* what, const SystemError& error) {
    std::fprintf(stderr, "%s: %s: %s\n", path.c_str(), what, error.reason());
    return 1;
}

int Fail(const std::string& path, const char* what, const ReadFailure& failure) {
    std::fprintf(stderr, "%s: %s: %s\n", path.c_str(), what, failure.reason());
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
    const Opened input = OpenRegularFile(inputPath, inputSize);
    if (!input.file) return Fail(inputPath, "cannot open", input.error);
    std::remove(partPath.c_str());
    Opened output = CreateNewFile(partPath, partPath);
    if (!output.file) return Fail(partPath, "cannot create", output.error);
    std::setvbuf(input.file.get(), inputBuffer.data(), _IOFBF, inputBuffer.size());
    std::setvbuf(output.file.get(), outputBuffer.data(), _IOFBF, outputBuffer.size());

    // The samples of a canonical file start after its 44-byte header.
    std::vector<unsigned char> raw(kGroupBlocks * wave::kInputBytesPerBlock);
    if (const ReadFailure failure = ReadExactly(input.file.get(), raw.data(), 44)) {
        return Fail(inputPath, "cannot read", failure);
    }
    if (const SystemError error =
            WriteExactly(output.file.get(), wave::WaveHeaderTemplate.data(), wave::kHeaderSize)) {
        return Fail(partPath, "cannot write", error);
    }
    std::size_t unstarted = 0;
    for (std::size_t got; (got = std::fread(raw.data(), 1, raw.size(), input.file.get())) > 0;) {
        // Some of what was read goes out, so that neither side can be skipped.
        const std::size_t bytes =
            (got + wave::kInputBytesPerBlock - 1) / wave::kInputBytesPerBlock * wave::kBlockSize;
        if (const SystemError error = WriteExactly(output.file.get(), raw.data(), bytes)) {
            return Fail(partPath, "cannot write", error);
        }
        unstarted += bytes;
        if (unstarted >= kWriteBehindBytes) {
            if (const SystemError error = StartWritingToDisk(output.file.get())) {
                return Fail(partPath, "cannot write", error);
            }
            unstarted = 0;
        }
    }
    // errno as the last fread, the one that gave nothing, left it.
    if (std::ferror(input.file.get())) return Fail(inputPath, "cannot read", SystemError(errno));
    if (const SystemError error = FlushToDisk(output.file.get())) {
        return Fail(partPath, "cannot write", error);
    }
    if (const SystemError error = Close(std::move(output.file))) {
        return Fail(partPath, "cannot write", error);
    }
    if (const SystemError error = MoveOnto(partPath, outputPath)) {
        return Fail(outputPath, "cannot move into place", error);
    }
    if (const SystemError error = SyncFolderOf(outputPath)) {
        return Fail(outputPath, "cannot sync its folder", error);
    }
    return 0;
}
