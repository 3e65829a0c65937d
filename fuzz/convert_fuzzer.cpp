// Fuzz target: arbitrary bytes as the input file of one conversion.
//
// Each input is written to a file and converted as a fresh run of the program
// would convert it. The run must keep its contract: an input that fails the
// header check leaves no output; an accepted one gives a 60-byte header and
// (size - 44) / 4096 blocks of 1028 bytes with the size fields rewritten,
// each block carrying its opening sample and the codes of the rest, which
// decode in step with the encoder; the input is never changed. Any breach
// aborts, which libFuzzer reports as a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "conversion.h"
#include "ima_adpcm.h"
#include "wave_files.h"

namespace {

constexpr std::size_t kProbeBytes = 28, kSamplesOffset = 44, kHeaderBytes = 60;
constexpr std::size_t kInputBlockBytes = 4096, kBlockBytes = 1028, kBlockSamples = 2048;

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
    return input.size() >= kProbeBytes && LE32At(input, 16) == 16 && input[22] == 1 &&
           LE32At(input, 24) == 22050;
}

short SampleAt(const Bytes& bytes, std::size_t at) {
    return static_cast<short>(bytes[at] | bytes[at + 1] << 8);
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

void CheckBlock(const Bytes& input, const Bytes& output, std::size_t n) {
    const std::size_t in = kSamplesOffset + n * kInputBlockBytes;
    const unsigned char* block = output.data() + kHeaderBytes + n * kBlockBytes;
    const short opening = SampleAt(input, in);
    Require(SampleAt(output, kHeaderBytes + n * kBlockBytes) == opening, "opening sample");
    Require(block[2] == OpeningStepIndex(opening, n), "block step index");
    Require(block[3] == 0, "block byte 3");

    IMA_ADPCM encoder, decoder;
    encoder.PredictedValue = decoder.PredictedValue = opening;
    encoder.StepIndex = decoder.StepIndex = block[2];
    for (std::size_t i = 0; i < kBlockSamples; ++i) {
        // The last code repeats the block's last sample.
        const std::size_t sample = i + 1 < kBlockSamples ? i + 1 : kBlockSamples - 1;
        const int code = CodeAt(block + 4, i);
        Require(encoder.Encodes(SampleAt(input, in + 2 * sample)) == code, "block code");
        Require(decoder.Decode(static_cast<unsigned int>(code)) == encoder.PredictedValue,
                "decoded sample");
    }
}

void CheckConverted(const Bytes& input, const Bytes& output) {
    const std::size_t blocks =
        input.size() >= kSamplesOffset ? (input.size() - kSamplesOffset) / kInputBlockBytes : 0;
    Require(output.size() == kHeaderBytes + kBlockBytes * blocks, "output size");
    Require(LE32At(output, 4) == output.size() - 8, "RIFF size");
    Require(LE32At(output, 48) == blocks * kBlockSamples, "fact sample length");
    Require(LE32At(output, 56) == output.size() - kHeaderBytes, "data size");
    for (std::size_t n = 0; n < blocks; ++n) CheckBlock(input, output, n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (fs::temp_directory_path() / "pcm-encoder-fuzz-XXXXXX").string();
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
    return 0;
}
