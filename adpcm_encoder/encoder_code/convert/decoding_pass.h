// A decoding's pass: the input's IMA ADPCM blocks decoded, block by block, as
// a standard decoder plays them, and written as 16-bit PCM samples after the
// output's header. The buffers are made by the constructor, before the
// output exists; Write allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "convert/outcome.h"
#include "wave/wave_input.h"

namespace convert {

class DecodingPass {
public:
    // For the blocks `format` describes, which must outlive the pass.
    explicit DecodingPass(const wave::AdpcmCheck& format);

    // What the output holds: as many samples as the fact chunk says if the
    // blocks hold them, else every sample the blocks hold.
    std::uint64_t samples() const { return count_; }

    ConversionResult Write(std::FILE* input, const std::string& inputPath, std::FILE* output,
                           const std::string& outputPath);

    // Lines about blocks that players take though they are not well formed,
    // about a last block cut short, and about a fact chunk that counts more
    // samples than the blocks hold.
    std::vector<std::string> Warnings(const std::string& inputPath) const;

private:
    std::uint64_t PartialSamples() const;

    const wave::AdpcmCheck& format_;
    std::uint64_t wholeBlocks_;
    std::size_t partialBytes_;
    std::vector<unsigned char> block_;
    std::vector<short> samples_;
    std::vector<unsigned char> bytes_;
    std::uint64_t count_;
    std::uint64_t malformed_ = 0, firstMalformed_ = 0;
    std::optional<std::uint64_t> factBeyondBlocks_;  // a fact chunk's count past the blocks
};

}  // namespace convert
