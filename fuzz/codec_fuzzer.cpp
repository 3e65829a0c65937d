// Fuzz target: the codec's buffer Encode and Decode at arbitrary positions,
// and the encoding of several blocks in one call.
//
// The input chooses a buffer, a base pointer inside it, a bit offset from
// that pointer (negative ones included) and a length that fits, plus the
// codec's state. Each buffer operation must match the per-sample operations
// (the same codes, the same samples, the same final state), return its
// length in the right unit, and leave every byte outside the codes it writes
// as it was. Buffers are sized exactly, so AddressSanitizer catches any
// access beyond them. Blocks encoded in one call, in groups of any size,
// lengths, strides, signals and start indices, must equal one buffer Encode
// per block from its opening sample and index, and leave the program-wide
// values alone. The best-block encoder's codes (of --best's search, a
// narrow one and the benchmark's reference), on any block, must decode with
// no more error than the default's from either index the default starts a
// block from (searching from an index given, as --compatible does, than the
// default's from that one), and end on the code Encodes gives the block's
// last sample. Any breach aborts, which libFuzzer reports as a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "codec/blocks.h"
#include "codec/code_format.h"
#include "codec/ima_adpcm.h"
#include "codec/search.h"

using codec::BestBlockEncoder;
using codec::EncodeBlocks;
using codec::EncodeBlocksScalar;
using codec::kMaxStepIndex;

namespace {

constexpr std::size_t kMaxBufferBytes = 1100;
constexpr short kUnwrittenSample = 0x7E7E;
constexpr std::size_t kMaxGroup = 80;  // past two interleaved groups of 32
constexpr std::size_t kMaxShortBlockCodes = 64;
constexpr std::size_t kProgramBlockCodes = 2048;
constexpr std::size_t kMaxStridePadding = 9;

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "codec contract broken: %s\n", what);
    std::abort();
}

// Where a buffer operation starts: `base` bytes into a buffer of `size`
// bytes, then `bitOffset` bits from there. `firstNibble` counts nibbles from
// the buffer's start; `nibbles` is the room from there to the buffer's end.
struct Position {
    std::size_t size, base;
    int bitOffset;
    std::size_t firstNibble, nibbles;
};

Position ChoosePosition(FuzzedDataProvider& in) {
    Position p{};
    p.size = in.ConsumeIntegralInRange<std::size_t>(1, kMaxBufferBytes);
    p.base = in.ConsumeIntegralInRange<std::size_t>(0, p.size);
    p.firstNibble = in.ConsumeIntegralInRange<std::size_t>(0, 2 * p.size);
    // Bits 0 and 1 of an offset do not move the position.
    const int ignoredBits = in.ConsumeIntegralInRange<int>(0, 3);
    p.bitOffset =
        4 * (static_cast<int>(p.firstNibble) - 2 * static_cast<int>(p.base)) + ignoredBits;
    p.nibbles = 2 * p.size - p.firstNibble;
    return p;
}

std::vector<unsigned char> ConsumeBuffer(FuzzedDataProvider& in, std::size_t size) {
    std::vector<unsigned char> bytes = in.ConsumeBytes<unsigned char>(size);
    bytes.resize(size, 0xA5);
    return bytes;
}

void PutNibble(std::vector<unsigned char>& bytes, std::size_t nibble, int code) {
    unsigned char& byte = bytes[nibble / 2];
    // A code in a low nibble overwrites the whole byte.
    byte = static_cast<unsigned char>(nibble % 2 ? (byte & 0x0F) | code << 4 : code);
}

int NibbleAt(const std::vector<unsigned char>& bytes, std::size_t nibble) {
    return nibble % 2 ? bytes[nibble / 2] >> 4 : bytes[nibble / 2] & 0x0F;
}

bool SameState(const IMA_ADPCM& a, const IMA_ADPCM& b) {
    return a.PredictedValue == b.PredictedValue && a.StepIndex == b.StepIndex;
}

void FuzzEncode(FuzzedDataProvider& in) {
    const Position p = ChoosePosition(in);
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, p.nibbles);
    const unsigned int srcSize = static_cast<unsigned int>(2 * count + in.ConsumeBool());
    HeaderVal = in.ConsumeIntegral<short>();
    StaticVal = 0;
    x = in.ConsumeBool();
    IMA_ADPCM codec;  // its state before the call must not matter
    codec.PredictedValue = in.ConsumeIntegral<short>();
    codec.StepIndex = in.ConsumeIntegralInRange<unsigned char>(0, kMaxStepIndex);
    std::vector<unsigned char> buffer = ConsumeBuffer(in, p.size);
    std::vector<short> samples(count);
    for (short& s : samples) s = in.ConsumeIntegral<short>();

    IMA_ADPCM reference;
    reference.PredictedValue = HeaderVal;
    reference.StepIndex = 0;
    if (x == 0) reference.EncodeInit(HeaderVal, StaticVal);
    std::vector<unsigned char> expected = buffer;
    for (std::size_t i = 0; i < count; ++i) {
        PutNibble(expected, p.firstNibble + i, reference.Encodes(samples[i]));
    }

    const unsigned int bits =
        codec.Encode(buffer.data() + p.base, p.bitOffset, samples.data(), srcSize);
    Require(bits == 4 * count, "Encode returns the bits it wrote");
    Require(buffer == expected, "Encode writes the per-sample codes and nothing else");
    Require(SameState(codec, reference), "Encode ends in the per-sample state");
    Require(x == 1, "Encode marks the first call as done");
}

// Decodes `codes` codes from `p` into dst, in one call or two at `split`.
unsigned int BufferDecode(IMA_ADPCM& codec, short* dst, const std::vector<unsigned char>& src,
                          const Position& p, std::size_t codes, std::size_t split,
                          unsigned int ignoredBits) {
    const unsigned char* base = src.data() + p.base;
    const unsigned int head = static_cast<unsigned int>(4 * split);
    const unsigned int tail = static_cast<unsigned int>(4 * (codes - split)) + ignoredBits;
    const unsigned int written = codec.Decode(dst, base, p.bitOffset, head);
    Require(written == 2 * split, "Decode returns the bytes it wrote");
    return written + codec.Decode(dst + split, base, p.bitOffset + static_cast<int>(head), tail);
}

void FuzzDecode(FuzzedDataProvider& in) {
    const Position p = ChoosePosition(in);
    const std::size_t codes = in.ConsumeIntegralInRange<std::size_t>(0, p.nibbles);
    const std::size_t split = in.ConsumeIntegralInRange<std::size_t>(0, codes);
    const unsigned int ignoredBits = in.ConsumeIntegralInRange<unsigned int>(0, 3);
    const std::size_t slack = in.ConsumeIntegralInRange<std::size_t>(0, 3);
    IMA_ADPCM codec;
    codec.PredictedValue = in.ConsumeIntegral<short>();
    codec.StepIndex = in.ConsumeIntegralInRange<unsigned char>(0, kMaxStepIndex);
    const std::vector<unsigned char> src = ConsumeBuffer(in, p.size);

    IMA_ADPCM reference = codec;
    std::vector<short> expected(codes + slack, kUnwrittenSample);
    for (std::size_t i = 0; i < codes; ++i) {
        expected[i] = static_cast<short>(
            reference.Decode(static_cast<unsigned int>(NibbleAt(src, p.firstNibble + i))));
    }

    std::vector<short> samples(codes + slack, kUnwrittenSample);
    const unsigned int bytes =
        BufferDecode(codec, samples.data(), src, p, codes, split, ignoredBits);
    Require(bytes == 2 * codes, "Decode returns the bytes it wrote");
    Require(samples == expected, "Decode writes the per-code samples and nothing else");
    Require(SameState(codec, reference), "Decode ends in the per-code state");
}

// Full-scale squares drive the predictor into both clamps.
short ConsumeSample(FuzzedDataProvider& in, bool fullScale) {
    const short sample = in.ConsumeIntegral<short>();
    return fullScale ? (sample < 0 ? -32768 : 32767) : sample;
}

void FuzzEncodeBlocks(FuzzedDataProvider& in) {
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, kMaxGroup);
    const std::size_t codesPerBlock =
        in.ConsumeBool() ? kProgramBlockCodes
                         : 2 * in.ConsumeIntegralInRange<std::size_t>(1, kMaxShortBlockCodes / 2);
    const std::size_t rowStride =
        codesPerBlock + 1 + in.ConsumeIntegralInRange<std::size_t>(0, kMaxStridePadding);
    const std::size_t codesStride =
        codesPerBlock / 2 + in.ConsumeIntegralInRange<std::size_t>(0, kMaxStridePadding);
    const bool fullScale = in.ConsumeBool();
    // The last row and the last block's codes end the buffers exactly.
    const std::size_t rowsSize = count ? (count - 1) * rowStride + codesPerBlock + 1 : 0;
    const std::size_t codesSize = count ? (count - 1) * codesStride + codesPerBlock / 2 : 0;
    std::vector<short> rows(rowsSize);
    for (short& s : rows) s = ConsumeSample(in, fullScale);
    std::vector<unsigned char> indices(count);
    for (unsigned char& index : indices) {
        index = in.ConsumeIntegralInRange<unsigned char>(0, kMaxStepIndex);
    }
    const std::vector<unsigned char> before = ConsumeBuffer(in, codesSize);

    std::vector<unsigned char> expected = before;
    IMA_ADPCM codec;
    x = 1;
    for (std::size_t b = 0; b < count; ++b) {
        HeaderVal = rows[b * rowStride];
        StaticVal = indices[b];
        codec.Encode(expected.data() + b * codesStride, 0, rows.data() + b * rowStride + 1,
                     static_cast<unsigned int>(2 * codesPerBlock));
    }

    using Encoder = void (*)(const short*, std::size_t, std::size_t, unsigned char*, std::size_t,
                             const unsigned char*, std::size_t, codec::SquaredErrors);
    const std::size_t summed = in.ConsumeIntegralInRange<std::size_t>(0, codesPerBlock);
    std::vector<std::uint64_t> sums[2] = {std::vector<std::uint64_t>(count),
                                          std::vector<std::uint64_t>(count)};
    int path = 0;
    for (const Encoder encode : {EncodeBlocks, EncodeBlocksScalar}) {
        const short header = in.ConsumeIntegral<short>();
        HeaderVal = header;
        x = 0;
        std::vector<unsigned char> codes = before;
        encode(rows.data(), rowStride, codesPerBlock, codes.data(), codesStride, indices.data(),
               count, {sums[path++].data(), summed});
        Require(codes == expected, "blocks in one call code as one Encode a block from its index");
        Require(HeaderVal == header && x == 0, "blocks in one call touch no program-wide value");
    }
    Require(sums[0] == sums[1], "the lanes sum the squared errors the scalar path sums");
}

// Squared error of `codes` decoded from row[0] and `index` over the samples
// all codes but the last stand for; `last` is left in the state before it.
std::uint64_t DecodedError(const std::vector<short>& row, const std::vector<unsigned char>& codes,
                           unsigned char index, IMA_ADPCM& last) {
    last.PredictedValue = row[0];
    last.StepIndex = index;
    std::uint64_t error = 0;
    for (std::size_t i = 1; i + 1 < row.size(); ++i) {
        const std::int64_t miss =
            row[i] - last.Decode(static_cast<unsigned int>(NibbleAt(codes, i - 1)));
        error += static_cast<std::uint64_t>(miss * miss);
    }
    return error;
}

// The codes of the default encoder from `start`, and the error they decode with.
std::uint64_t GreedyError(const std::vector<short>& row, unsigned char start, std::size_t bytes) {
    IMA_ADPCM greedy;
    greedy.PredictedValue = row[0];
    greedy.StepIndex = start;
    std::vector<unsigned char> codes(bytes);
    for (std::size_t i = 0; i + 1 < row.size(); ++i)
        PutNibble(codes, i, greedy.Encodes(row[i + 1]));
    return DecodedError(row, codes, start, greedy);
}

void FuzzBestBlock(FuzzedDataProvider& in) {
    static BestBlockEncoder wide, narrow(3), reference(40, 2, codec::SearchCodes::All);
    const int which = in.ConsumeIntegralInRange<int>(0, 4);
    BestBlockEncoder& encoder = which == 0 ? narrow : which == 1 ? reference : wide;
    const bool compatible = which == 4;  // from a step index given
    const std::size_t codesPerBlock =
        in.ConsumeIntegralInRange<int>(0, 15) == 0
            ? kProgramBlockCodes
            : 2 * in.ConsumeIntegralInRange<std::size_t>(1, kMaxShortBlockCodes / 2);
    const auto given = static_cast<unsigned char>(in.ConsumeIntegralInRange<int>(0, kMaxStepIndex));
    const bool fullScale = in.ConsumeBool();
    std::vector<short> row(codesPerBlock + 1);
    for (short& s : row) s = ConsumeSample(in, fullScale);
    std::vector<unsigned char> codes = ConsumeBuffer(in, codesPerBlock / 2);

    unsigned char index = given;
    if (compatible) {
        encoder.EncodeFrom(row.data(), codesPerBlock, given, codes.data());
    } else {
        index = encoder.Encode(row.data(), codesPerBlock, codes.data());
    }
    Require(index <= kMaxStepIndex, "the search's step index lies within 0..88");
    IMA_ADPCM last;
    const std::uint64_t error = DecodedError(row, codes, index, last);
    Require(NibbleAt(codes, codesPerBlock - 1) == last.Encodes(row.back()),
            "the search's last code is the one Encodes gives from the state before it");
    if (compatible) {
        Require(error <= GreedyError(row, given, codes.size()),
                "the search errs no more than the default encoder from the index given");
        return;
    }
    IMA_ADPCM first;
    first.EncodeInit(row[0], 0);
    for (const unsigned char start : {static_cast<unsigned char>(0), first.StepIndex}) {
        Require(error <= GreedyError(row, start, codes.size()),
                "the search errs no more than the default encoder");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            FuzzEncode(in);
            break;
        case 1:
            FuzzDecode(in);
            break;
        case 2:
            FuzzEncodeBlocks(in);
            break;
        default:
            FuzzBestBlock(in);
            break;
    }
    return 0;
}
