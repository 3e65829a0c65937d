// One block's codes chosen to decode best, for `--best`.
//
// A standard decoder starts each block from the opening sample and the step
// index in its header. BestBlockEncoder chooses that index and the codes
// together: a beam search keeps the paths (decoder states, each with the
// squared error it has run up) that err least so far, tries on each the code
// nearest the next sample and its neighbours in the order of the values they
// decode to, and merges paths that reach the same state. A block that the
// default encoder's codes would decode better, from either step index the
// default starts a block from or from the one the search chose, gets those
// codes instead.
//
// Codec unit: no I/O and no program-wide value; each object has its own
// scratch, allocated once by its constructor (which may throw
// std::bad_alloc), so objects may encode in parallel. Encode allocates
// nothing and never fails. The result depends on the samples alone, the same
// on every platform.
#pragma once

#include <cstddef>
#include <memory>

namespace codec {

// How many paths the search keeps: what `--best` uses.
extern const std::size_t kBestSearchWidth;

class BestBlockEncoder {
public:
    // width: the paths kept, 1 to 256 (a width outside is taken as the
    // nearest); the benchmark measures other widths than --best's.
    explicit BestBlockEncoder(std::size_t width = kBestSearchWidth);
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
    unsigned char Encode(const short* row, std::size_t codesPerBlock, unsigned char* codes);

private:
    struct Scratch;
    std::unique_ptr<Scratch> scratch_;
};

}  // namespace codec
