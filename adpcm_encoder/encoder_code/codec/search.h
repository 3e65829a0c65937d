// One block's codes chosen to decode best, for `--best`.
//
// A standard decoder starts each block from the opening sample and the step
// index in its header. BestBlockEncoder chooses that index and the codes
// together: a search keeps the paths (decoder states, each with the squared
// error it has run up) that err least so far, but no more than one or a few
// of each step index, and tries on each the four codes whose values lie
// nearest the next sample, the largest move toward it, and every code that
// clamps to a rail. Keeping paths of many step indices keeps those ready
// for a sharp onset, which cost a little error before it, from being
// crowded out by near copies of the best; the clamping codes keep a plateau
// at full scale from wearing the step down. Of paths that end with equal
// error, the one with the larger step is taken. A block that the default
// encoder's codes would decode better, from either step index the default
// starts a block from or from the one the search chose, gets those codes
// instead.
//
// Codec unit: no I/O and no program-wide value; each object has its own
// scratch, allocated once by its constructor (which may throw
// std::bad_alloc), so objects may encode in parallel. Encode allocates
// nothing and never fails. The result depends on the samples alone, the same
// on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace codec {

// How many paths the search keeps, and at most how many of one step index:
// what `--best` uses.
extern const std::size_t kBestSearchWidth;
extern const std::size_t kBestSearchPerIndex;

// The codes tried on each path: the near and the clamping ones, or, for the
// benchmark's reference, all 16.
enum class SearchCodes { Near, All };

class BestBlockEncoder {
public:
    // width: the paths kept, 1 to 89 * perIndex; perIndex: the most of one
    // step index, 1 to 8 (values outside are taken as the nearest). The
    // benchmark measures others than --best's.
    explicit BestBlockEncoder(std::size_t width = kBestSearchWidth,
                              std::size_t perIndex = kBestSearchPerIndex,
                              SearchCodes codes = SearchCodes::Near);
    ~BestBlockEncoder();
    BestBlockEncoder(BestBlockEncoder&&) noexcept;
    BestBlockEncoder& operator=(BestBlockEncoder&&) noexcept;

    // row[0] is the block's opening sample, row[1] .. row[codesPerBlock] the
    // samples its codes stand for (codesPerBlock even, 2..2048). Writes
    // codesPerBlock / 2 bytes of codes, packed as the buffer Encode packs
    // them (earlier code in the low nibble), and returns the step index
    // (0..88) the block's header carries. The first codesPerBlock - 1 codes
    // are chosen so that IMA_ADPCM::Decode, started from row[0] and that
    // index, reconstructs row[1] .. row[codesPerBlock - 1] with little
    // squared error; the last codes row[codesPerBlock] as Encodes would from
    // the state the others leave.
    //
    // `samples`: how many of row[0], row[1] .. are the block's own, the rest
    // repeating the last to fill a block the input ends in; the codes for
    // those are chosen as well, but their error does not count.
    // `squaredError`, if given, gets the squared error over the samples that
    // count.
    unsigned char Encode(const short* row, std::size_t codesPerBlock, unsigned char* codes,
                         std::size_t samples = kAllSamples, std::uint64_t* squaredError = nullptr);

    // The same from the step index given, which the block's header keeps:
    // only the codes are searched (for players that assume the default's
    // step index), with the default's codes from that index as the floor.
    void EncodeFrom(const short* row, std::size_t codesPerBlock, unsigned char startIndex,
                    unsigned char* codes, std::size_t samples = kAllSamples,
                    std::uint64_t* squaredError = nullptr);

    static constexpr std::size_t kAllSamples = SIZE_MAX;

private:
    // From `*startIndex`, or from every index when it is null; returns the
    // index the codes start from.
    unsigned char Search(const short* row, std::size_t codesPerBlock,
                         const unsigned char* startIndex, unsigned char* codes,
                         std::size_t samples, std::uint64_t* squaredError);

    struct Scratch;
    std::unique_ptr<Scratch> scratch_;
};

}  // namespace codec
