// Fuzz target: arbitrary bytes as the input file of one conversion.
//
// Each input is written to a file and converted as a fresh run of the program
// would convert it. The run must keep its contract: an input that fails the
// header check leaves no output; an accepted one gives a 60-byte header and
// one 1028-byte block for every 4096 bytes of its data chunk, with the size
// fields rewritten, each block carrying its opening sample and the codes of
// the rest, which decode in step with the encoder; the input is never
// changed, and nothing else is left beside it. Any breach aborts, which
// libFuzzer reports as a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "conversion.h"
#include "ima_adpcm.h"
#include "wave_files.h"
#include "wave_layout.h"

namespace {

using wave::kBlockSize, wave::kHeaderSize, wave::kInputBytesPerBlock, wave::kSamplesPerBlock;

fs::path workDir;

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "conversion contract broken: %s\n", what);
    std::abort();
}

void RemoveWorkDir() {
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
}

bool Accepted(const Bytes& input) {
    const unsigned char* p = input.data();
    return input.size() >= 36 && wave::GetLE32(p + 16) == 16 &&
           wave::GetUnsignedLE16(p + 20) == 1 && p[22] == 1 && wave::GetLE32(p + 24) == 22050 &&
           wave::GetUnsignedLE16(p + 34) == 16;
}

struct Span {
    std::size_t start, length;
};

// The body of the first data chunk after the format chunk. A size of 0, or
// one past the end of the file, was never written: the body runs to the end.
Span DataChunk(const Bytes& input) {
    constexpr std::size_t kChunkHeader = 8;
    for (std::size_t at = 36; at + kChunkHeader <= input.size();) {
        const std::size_t size = wave::GetLE32(&input[at + 4]);
        const std::size_t body = at + kChunkHeader, rest = input.size() - body;
        if (std::memcmp(&input[at], "data", 4) == 0) {
            return {body, size == 0 || size > rest ? rest : size};
        }
        at = body + size + size % 2;
    }
    return {input.size(), 0};
}

// Step index the first block of a run starts from: the one that suits its
// opening sample; later blocks start from 0.
unsigned char OpeningStepIndex(short opening, std::size_t block) {
    if (block > 0) return 0;
    IMA_ADPCM init;
    init.EncodeInit(opening, 0);
    return init.StepIndex;
}

int CodeAt(const unsigned char* codes, std::size_t i) {
    return i % 2 ? codes[i / 2] >> 4 : codes[i / 2] & 0x0F;
}

void CheckBlock(const Bytes& input, std::size_t in, const unsigned char* block, std::size_t n) {
    const short opening = wave::GetLE16(&input[in]);
    Require(wave::GetLE16(block) == opening, "opening sample");
    Require(block[2] == OpeningStepIndex(opening, n), "block step index");
    Require(block[3] == 0, "block byte 3");

    IMA_ADPCM encoder, decoder;
    encoder.PredictedValue = decoder.PredictedValue = opening;
    encoder.StepIndex = decoder.StepIndex = block[2];
    for (std::size_t i = 0; i < kSamplesPerBlock; ++i) {
        // The last code repeats the block's last sample.
        const std::size_t sample = i + 1 < kSamplesPerBlock ? i + 1 : kSamplesPerBlock - 1;
        const int code = CodeAt(block + 4, i);
        Require(encoder.Encodes(wave::GetLE16(&input[in + 2 * sample])) == code, "block code");
        Require(decoder.Decode(static_cast<unsigned int>(code)) == encoder.PredictedValue,
                "decoded sample");
    }
}

void CheckConverted(const Bytes& input, const Bytes& output) {
    const Span samples = DataChunk(input);
    const std::size_t blocks = samples.length / kInputBytesPerBlock;
    Require(output.size() == kHeaderSize + kBlockSize * blocks, "output size");
    Require(LE32At(output, 4) == output.size() - 8, "RIFF size");
    Require(LE32At(output, 48) == blocks * kSamplesPerBlock, "fact sample length");
    Require(LE32At(output, 56) == output.size() - kHeaderSize, "data size");
    for (std::size_t n = 0; n < blocks; ++n) {
        CheckBlock(input, samples.start + n * kInputBytesPerBlock,
                   output.data() + kHeaderSize + n * kBlockSize, n);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every conversion syncs its output to the disk; in memory that costs
    // nothing, and the fuzzer runs several times as many inputs.
    const fs::path memory = "/dev/shm";
    const fs::path base = fs::is_directory(memory) ? memory : fs::temp_directory_path();
    std::string pattern = (base / "pcm-encoder-fuzz-XXXXXX").string();
    Require(mkdtemp(pattern.data()) != nullptr, "a work directory can be made");
    workDir = pattern;
    std::atexit(RemoveWorkDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes input(data, data + size);
    const fs::path inputPath = workDir / "in.wav", outputPath = workDir / "Enc_in.wav";
    WriteBytes(inputPath, input);
    fs::remove(outputPath);
    // As in a fresh process: the first block of the run seeds from its sample.
    HeaderVal = 0;
    x = 0;

    const ConversionResult result = ConvertFile(inputPath.string(), outputPath.string());
    if (Accepted(input)) {
        Require(result.outcome == Outcome::Converted, "an accepted input is converted");
        CheckConverted(input, ReadBytes(outputPath));
    } else {
        Require(result.outcome == Outcome::Rejected, "a failed check is a rejection");
        Require(!fs::exists(outputPath), "a rejected input leaves no output");
    }
    Require(ReadBytes(inputPath) == input, "the input is unchanged");
    for (const auto& entry : fs::directory_iterator(workDir)) {
        Require(entry.path() == inputPath || entry.path() == outputPath,
                "no temporary file is left");
    }
    return 0;
}
