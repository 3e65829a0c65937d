// Fuzz target: WAVE files built from a recipe, each converted as a fresh run
// of the program would convert it.
//
// The fuzzer's bytes are a recipe: the form (RIFF or RF64), chunks before the
// format chunk (a "data" chunk among them), the format chunk (PCM or
// extensible, 16 to 20 bytes or 40, its fields right or wrong), chunks
// between it and the data, the data chunk or none, its size written truly, as
// 0, as 0xFFFFFFFF or too large, an odd last byte, pad bytes kept or left out
// (or, throughout a file, all written as a space or an X), chunks after it, and the RIFF size written or not. Or, for one recipe in
// four, the bytes are the file itself. The builder knows from what it wrote,
// without walking the file, whether the file is to be taken and which samples
// it holds. The run must agree: a rejected file leaves no output and one line
// that names it; a taken one gives exactly the blocks that the samples encode
// to, the last filled up with the last sample; the input is never changed,
// and nothing else is left beside it. Any breach aborts, which libFuzzer
// reports as a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/conversion.h"
#include "codec/ima_adpcm.h"
#include "wave_files.h"
#include "wave/wave_output.h"

using convert::ConversionResult;
using convert::ConvertFile;
using convert::DecodeFile;
using convert::Outcome;

namespace {

using wave::kBlockSize, wave::kHeaderSize, wave::kSamplesPerBlock;

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

struct Recipe {
    Bytes file;
    bool known = true;  // false: raw bytes, whose samples nobody here worked out
    bool taken = false;
    std::vector<short> samples;
};

void Append(Bytes& file, const char* text) { file.insert(file.end(), text, text + 4); }

// What follows a body of odd size in a file: a pad byte of 0 or none, as the
// recipe has it chunk by chunk, or in every case this byte.
constexpr int kZeroOrNone = -1;
int padByte = kZeroOrNone;

void AppendPadByte(Bytes& file, FuzzedDataProvider& in) {
    if (padByte != kZeroOrNone) {
        file.push_back(static_cast<unsigned char>(padByte));
    } else if (in.ConsumeBool()) {
        file.push_back(0);
    }
}

// A chunk whose identifier never starts with 0.
void AppendChunk(Bytes& file, FuzzedDataProvider& in, const char* id) {
    const std::size_t size = in.ConsumeIntegralInRange<std::size_t>(0, 41);
    Append(file, id);
    PutLE(file, static_cast<std::uint32_t>(size), 4);
    for (std::size_t i = 0; i < size; ++i) file.push_back(in.ConsumeIntegral<unsigned char>());
    if (size % 2) AppendPadByte(file, in);
}

// Chunks of the kinds that stand before the format chunk, between it and the
// data, and after the data: in each place, any that the program must pass over.
using ChunkIds = std::vector<const char*>;
const ChunkIds kBeforeFormat = {"LIST", "JUNK", "bext", "data"};
const ChunkIds kBeforeData = {"LIST", "JUNK", "fact", "fmt "};
const ChunkIds kAfterData = {"LIST", "id3 ", "data", "fmt "};

void AppendChunks(Bytes& file, FuzzedDataProvider& in, const ChunkIds& ids) {
    for (int n = in.ConsumeIntegralInRange(0, 2); n > 0; --n) {
        AppendChunk(file, in, ids[in.ConsumeIntegralInRange<std::size_t>(0, ids.size() - 1)]);
    }
}

// Mostly the value taken, sometimes another.
template <typename T>
T Field(FuzzedDataProvider& in, T taken) {
    return in.ConsumeIntegralInRange(0, 3) ? taken : in.ConsumeIntegral<T>();
}

// Appends a format chunk; returns whether it describes 22050 Hz mono 16-bit PCM.
bool AppendFormat(Bytes& file, FuzzedDataProvider& in) {
    const bool extensible = in.ConsumeIntegralInRange(0, 3) == 0;
    const std::uint16_t tag = extensible ? 0xFFFE : Field<std::uint16_t>(in, 1);
    const std::uint16_t channels = Field<std::uint16_t>(in, 1);
    const std::uint32_t rate = Field<std::uint32_t>(in, 22050);
    const std::uint16_t bits = Field<std::uint16_t>(in, 16);
    Bytes body;
    PutLE(body, tag, 2);
    PutLE(body, channels, 2);
    PutLE(body, rate, 4);
    PutLE(body, rate * 2, 4);
    PutLE(body, 2, 2);
    PutLE(body, bits, 2);
    bool pcm = tag == 1;
    if (extensible) {
        const std::uint16_t validBits = in.ConsumeBool() ? 0 : Field<std::uint16_t>(in, 16);
        const std::uint16_t subFormat = Field<std::uint16_t>(in, 1);
        const bool guidIntact = in.ConsumeIntegralInRange(0, 7) != 0;
        PutLE(body, 22, 2);
        PutLE(body, validBits, 2);
        PutLE(body, 4, 4);
        PutLE(body, subFormat, 2);
        body.insert(body.end(), std::begin(wave::kSubFormatGuidTail),
                    std::end(wave::kSubFormatGuidTail));
        if (!guidIntact) body.back() ^= 0x01;
        pcm = subFormat == 1 && guidIntact && (validBits == 0 || validBits == 16);
    } else {
        body.insert(body.end(), in.ConsumeIntegralInRange<std::size_t>(0, 4), 0);
    }
    Append(file, "fmt ");
    PutLE(file, static_cast<std::uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
    if (body.size() % 2) AppendPadByte(file, in);
    return pcm && channels == 1 && rate == 22050 && bits == 16;
}

std::vector<short> SamplesFrom(const Bytes& file, std::size_t at) {
    std::vector<short> samples((file.size() - at) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = LE16At(file, at + 2 * i);
    return samples;
}

enum class DataSize { True, Zero, NotWritten, TooLarge };

Recipe Build(FuzzedDataProvider& in) {
    Recipe recipe;
    Bytes& file = recipe.file;
    const int padBytes[] = {kZeroOrNone, kZeroOrNone, ' ', 'X'};
    padByte = padBytes[in.ConsumeIntegralInRange(0, 3)];
    const bool rf64 = in.ConsumeIntegralInRange(0, 4) == 0;
    Append(file, rf64 ? "RF64" : "RIFF");
    PutLE(file, 0, 4);
    Append(file, "WAVE");
    const std::size_t ds64At = file.size() + 8;
    if (rf64) {
        Append(file, "ds64");
        PutLE(file, 28, 4);
        file.insert(file.end(), 28, 0);
    }
    AppendChunks(file, in, kBeforeFormat);
    const bool formatTaken = AppendFormat(file, in);
    AppendChunks(file, in, kBeforeData);
    const bool hasData = in.ConsumeIntegralInRange(0, 9) != 0;
    std::size_t body = 0, dataBytes = 0;
    DataSize mode = DataSize::True;
    if (hasData) {
        mode = static_cast<DataSize>(in.ConsumeIntegralInRange(0, 3));
        const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, 5000);
        const bool oddByte = in.ConsumeIntegralInRange(0, 7) == 0;
        dataBytes = 2 * count + oddByte;
        const std::uint32_t written[] = {static_cast<std::uint32_t>(dataBytes), 0,
                                         wave::kSizeNotWritten,
                                         static_cast<std::uint32_t>(dataBytes + 1000000)};
        Append(file, "data");
        PutLE(file, written[static_cast<int>(mode)], 4);
        body = file.size();
        for (std::size_t i = 0; i < dataBytes; ++i) {
            file.push_back(in.ConsumeIntegral<unsigned char>());
        }
        if (dataBytes % 2) file.push_back(padByte == kZeroOrNone ? 0 : padByte);
        AppendChunks(file, in, kAfterData);
        if (dataBytes == 0 && mode == DataSize::True) mode = DataSize::Zero;
    }
    const bool riffSizeWritten = !rf64 && in.ConsumeBool();
    if (riffSizeWritten) wave::PutLE32(file, 4, static_cast<std::uint32_t>(file.size() - 8));
    if (rf64) wave::PutLE32(file, 4, wave::kSizeNotWritten);
    if (rf64) wave::PutLE32(file, ds64At + 8, static_cast<std::uint32_t>(dataBytes));

    recipe.taken = formatTaken && hasData;
    if (!recipe.taken) return recipe;
    recipe.samples = SamplesFrom(file, body);  // to the end of the file
    // An RF64 file's ds64 chunk holds the data size; its RIFF size there is
    // never written, so a data size of 0 there runs to the end too.
    const bool toTheEnd = mode == DataSize::TooLarge ||
                          (mode == DataSize::NotWritten && (!rf64 || dataBytes == 0)) ||
                          (mode == DataSize::Zero && !riffSizeWritten);
    if (!toTheEnd) recipe.samples.resize(mode == DataSize::Zero ? 0 : dataBytes / 2);
    return recipe;
}

// The blocks that `samples` encode to, the last one filled up with the last
// sample, as one buffer Encode a block in a fresh process gives them.
Bytes ExpectedBlocks(std::vector<short> samples) {
    const std::size_t blocks = (samples.size() + kSamplesPerBlock - 1) / kSamplesPerBlock;
    if (!samples.empty()) samples.resize(blocks * kSamplesPerBlock, samples.back());
    Bytes out;
    for (std::size_t b = 0; b < blocks; ++b) {
        const short* block = samples.data() + b * kSamplesPerBlock;
        IMA_ADPCM codec;
        codec.EncodeInit(block[0], 0);
        if (b > 0) codec.StepIndex = 0;
        PutLE(out, static_cast<std::uint16_t>(block[0]), 2);
        out.push_back(codec.StepIndex);
        out.push_back(0);
        for (std::size_t i = 1; i <= kSamplesPerBlock; i += 2) {
            const int low = codec.Encodes(block[i]);
            const int high = codec.Encodes(block[std::min(i + 1, kSamplesPerBlock - 1)]);
            out.push_back(static_cast<unsigned char>(low | high << 4));
        }
    }
    return out;
}

void CheckConverted(const Recipe& recipe, const Bytes& output) {
    Require(output.size() >= kHeaderSize && (output.size() - kHeaderSize) % kBlockSize == 0,
            "whole blocks after the header");
    Require(LE32At(output, 4) == output.size() - 8, "RIFF size");
    Require(LE32At(output, 56) == output.size() - kHeaderSize, "data size");
    const std::uint32_t samples = LE32At(output, 48);
    Require((output.size() - kHeaderSize) / kBlockSize ==
                (samples + kSamplesPerBlock - 1) / kSamplesPerBlock,
            "a block for every 2048 samples of the fact chunk's count, begun or whole");
    if (!recipe.known) return;
    Require(samples == recipe.samples.size(), "fact sample length");
    Require(Bytes(output.begin() + kHeaderSize, output.end()) == ExpectedBlocks(recipe.samples),
            "blocks");
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
    FuzzedDataProvider recipeBytes(data, size);
    Recipe recipe;
    if (recipeBytes.ConsumeIntegralInRange(0, 3) == 0) {
        recipe.known = false;
        recipe.file = recipeBytes.ConsumeRemainingBytes<unsigned char>();
    } else {
        recipe = Build(recipeBytes);
    }
    const Bytes& input = recipe.file;
    const fs::path inputPath = workDir / "in.wav", outputPath = workDir / "Enc_in.wav";
    WriteBytes(inputPath, input);
    fs::remove(outputPath);

    const ConversionResult result = ConvertFile(inputPath.string(), outputPath.string());
    if (recipe.known) {
        Require((result.outcome == Outcome::Converted) == recipe.taken,
                "a file is taken exactly when its format and data chunk are right");
    }
    if (result.outcome == Outcome::Converted) {
        CheckConverted(recipe, ReadBytes(outputPath));
    } else {
        Require(result.outcome == Outcome::Rejected, "nothing fails on a small file");
        Require(result.error.rfind(inputPath.string() + ": ", 0) == 0 &&
                    result.error.size() > inputPath.string().size() + 2,
                "a rejection names the file and says why");
        Require(!fs::exists(outputPath), "a rejected input leaves no output");
    }
    // --decode takes the output, and anything else without harm.
    const fs::path decodedPath = workDir / "Dec_in.wav";
    const bool converted = result.outcome == Outcome::Converted;
    const ConversionResult decoded =
        DecodeFile((converted ? outputPath : inputPath).string(), decodedPath.string());
    Require(decoded.outcome == (converted ? Outcome::Converted : decoded.outcome) &&
                decoded.outcome != Outcome::Failed,
            "--decode takes the program's output and fails on no small file");
    fs::remove(decodedPath);
    Require(ReadBytes(inputPath) == input, "the input is unchanged");
    for (const auto& entry : fs::directory_iterator(workDir)) {
        Require(entry.path() == inputPath || entry.path() == outputPath,
                "no temporary file is left");
    }
    return 0;
}
