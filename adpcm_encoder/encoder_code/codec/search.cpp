#include "codec/search.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "codec/blocks.h"
#include "codec/ima_adpcm.h"
#include "codec/internal/tables.h"

namespace codec {

// Measured on desktop and game effects, squares, clipped tones, speech and
// noise (bench/fidelity.sh): 16 paths, with the largest move toward each
// sample tried, gave what 24 did; fewer lost up to 2 dB on clicks. Two
// paths a step index gained some 0.3 dB on tones for twice the time.
const std::size_t kBestSearchWidth = 16;
const std::size_t kBestSearchPerIndex = 1;

namespace {

constexpr std::size_t kMaxCodes = 2048;
constexpr std::size_t kStartIndices = kMaxStepIndex + 1;
constexpr std::size_t kMaxPerIndex = 8;
constexpr std::size_t kMaxPaths = kStartIndices * kMaxPerIndex;
static_assert(kMaxPaths << kCodeBits <= 0xFFFF, "a path's parent and code fit a link");

// The 16 codes in the order of the values they decode to: below the
// predictor, the largest magnitude first (position 0 is code 15), then above
// it from the smallest (position 8 is code 0).
constexpr int kLevels = 16;
// Codes tried on each path besides those that clamp: the four whose values
// lie nearest the sample, two either side.
constexpr int kNear = 4;

constexpr int CodeAt(int position) {
    constexpr int sign = kSignBit, magnitude = kMagnitudeMask;
    return position < sign ? sign | (magnitude - position) : position - sign;
}

// For each step index and position: how far the code moves the predictor
// (before the clamp), which rises with the position, and the step index it
// leads to.
struct LevelTable {
    std::array<std::array<int, kLevels>, kStartIndices> move;
    std::array<std::array<unsigned char, kLevels>, kStartIndices> next;
};

constexpr LevelTable MakeLevelTable() {
    LevelTable table{};
    for (std::size_t index = 0; index < kStartIndices; ++index) {
        for (int position = 0; position < kLevels; ++position) {
            const auto code = static_cast<unsigned int>(CodeAt(position));
            table.move[index][position] = DecodedChange(IMA_ADPCMStepTable[index], code);
            table.next[index][position] = kSuccessors[index][code & kMagnitudeMask].index;
        }
    }
    return table;
}

constexpr LevelTable kLevelTable = MakeLevelTable();

// A search's fixed memory, allocated once. The paths kept after a sample are
// the `perIndex` that err least at each step index, and of those the `width`
// that err least: a path whose larger step costs a little now, and catches
// the next onset or the jump to the other rail, is not crowded out by near
// copies of the best.
struct Scratch {
    Scratch(std::size_t width, std::size_t perIndex, SearchCodes codes)
        : perIndex(std::clamp<std::size_t>(perIndex, 1, kMaxPerIndex)),
          width(std::clamp<std::size_t>(width, 1, kStartIndices * this->perIndex)),
          allCodes(codes == SearchCodes::All),
          predicted(kStartIndices * this->perIndex),
          index(predicted.size()),
          error(predicted.size()),
          slotPredicted(predicted.size()),
          slotError(predicted.size()),
          slotLink(predicted.size()),
          filled(kStartIndices),
          errors(predicted.size()),
          links(kMaxCodes * predicted.size()) {}

    std::size_t perIndex, width;
    bool allCodes;
    // The paths kept, structure of arrays, in the order of their step index.
    std::vector<int> predicted, index;
    std::vector<std::uint64_t> error;
    // The candidates at the current sample: `perIndex` slots a step index,
    // the filled ones in the order of their error.
    std::vector<int> slotPredicted;
    std::vector<std::uint64_t> slotError;
    // A path's parent (its place among the paths kept) and code: parent << 4 | code.
    std::vector<std::uint16_t> slotLink;
    std::vector<unsigned char> filled;
    // Which step indices have candidates, a bit each: most have none, and
    // only these are gone through.
    std::array<std::uint64_t, 2> touched{};
    std::vector<std::uint64_t> errors;  // the candidates', to find the width's
    // links[t * paths + k]: how path k after code t was reached.
    std::vector<std::uint16_t> links;
};

// Offers the path that `link` makes, ending at (predicted, index) with
// `error`, to its step index's slots: it takes the place of one that errs
// more, or of the same state erring more; equals keep the one offered first.
void Offer(Scratch& s, int predicted, int index, std::uint64_t error, std::uint16_t link) {
    const std::size_t first = static_cast<std::size_t>(index) * s.perIndex;
    std::size_t filled = s.filled[index];
    std::size_t at = filled;
    for (std::size_t j = 0; j < filled; ++j) {
        if (s.slotPredicted[first + j] == predicted) {
            if (s.slotError[first + j] <= error) return;
            at = j;
            break;
        }
    }
    if (at == filled) {
        if (filled == s.perIndex) {
            if (s.slotError[first + filled - 1] <= error) return;
            at = filled - 1;  // the one that errs most goes
        } else {
            s.filled[index] = static_cast<unsigned char>(++filled);
            s.touched[index / 64] |= std::uint64_t{1} << (index % 64);
        }
    }
    // Into its place in the order of error, past those that err no more.
    while (at > 0 && s.slotError[first + at - 1] > error) {
        s.slotPredicted[first + at] = s.slotPredicted[first + at - 1];
        s.slotError[first + at] = s.slotError[first + at - 1];
        s.slotLink[first + at] = s.slotLink[first + at - 1];
        --at;
    }
    s.slotPredicted[first + at] = predicted;
    s.slotError[first + at] = error;
    s.slotLink[first + at] = link;
}

// Calls visit(index) for each step index with candidates, in order.
template <typename Visit>
void ForEachTouched(const Scratch& s, Visit visit) {
    for (std::size_t word = 0; word < s.touched.size(); ++word) {
        for (std::uint64_t bits = s.touched[word]; bits; bits &= bits - 1) {
            visit(word * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)));
        }
    }
}

// How many of the moves from `index` fall short of `difference`: counted
// all at once, which is faster than a search that waits on each step.
int MovesBelow(int index, int difference) {
    const std::array<int, kLevels>& move = kLevelTable.move[index];
    int below = 0;
    for (int position = 0; position < kLevels; ++position) below += move[position] < difference;
    return below;
}

// `counted`: whether the sample's error counts (it is the block's own).
void OfferCode(Scratch& s, std::size_t k, int sample, int position, bool counted) {
    const int predicted = s.predicted[k], index = s.index[k];
    const int next =
        std::clamp(predicted + kLevelTable.move[index][position], kMinSample, kMaxSample);
    Offer(s, next, kLevelTable.next[index][position],
          s.error[k] + (counted ? Square(sample - next) : 0),
          static_cast<std::uint16_t>(k << kCodeBits | CodeAt(position)));
}

// The positions to try on path k, a bit each: the four whose values lie
// nearest `sample`; the largest move toward it, which leaves the largest
// step, ready for an onset that comes next; and each that clamps to a rail
// (those give the same value and differ only in the step they leave, which
// the next jump may need). For the reference, all.
unsigned TriedPositions(const Scratch& s, std::size_t k, int sample) {
    constexpr unsigned kAll = (1u << kLevels) - 1;
    if (s.allCodes) return kAll;
    const int predicted = s.predicted[k];
    const std::array<int, kLevels>& move = kLevelTable.move[s.index[k]];
    const int near =
        std::clamp(MovesBelow(s.index[k], sample - predicted) - kNear / 2, 0, kLevels - kNear);
    unsigned tried = ((1u << kNear) - 1) << near;
    tried |= sample >= predicted ? 1u << (kLevels - 1) : 1u;
    for (int position = 0; position < near && predicted + move[position] < kMinSample; ++position) {
        tried |= 1u << position;
    }
    for (int position = kLevels - 1;
         position >= near + kNear && predicted + move[position] > kMaxSample; --position) {
        tried |= 1u << position;
    }
    return tried;
}

// Offers from each of the `paths` kept the codes worth trying at `sample`.
void Extend(Scratch& s, std::size_t paths, int sample, bool counted) {
    ForEachTouched(s, [&](std::size_t index) { s.filled[index] = 0; });
    s.touched = {};
    for (std::size_t k = 0; k < paths; ++k) {
        const unsigned tried = TriedPositions(s, k, sample);
        for (int position = 0; position < kLevels; ++position) {
            if (tried >> position & 1) OfferCode(s, k, sample, position, counted);
        }
    }
}

// The most error a candidate kept may have: that of the `width`-th least,
// or, when there are no more candidates than that, of any.
std::uint64_t HighestKept(Scratch& s) {
    std::size_t n = 0;
    ForEachTouched(s, [&](std::size_t index) {
        const std::uint64_t* error = &s.slotError[index * s.perIndex];
        n = static_cast<std::size_t>(std::copy_n(error, s.filled[index], s.errors.begin() + n) -
                                     s.errors.begin());
    });
    if (n <= s.width) return std::numeric_limits<std::uint64_t>::max();
    const auto kth = s.errors.begin() + (s.width - 1);
    std::nth_element(s.errors.begin(), kth, s.errors.begin() + n);
    return *kth;
}

// The candidates kept become the paths after code t, in the order of their
// step index; returns how many. Those that err as much as the width's last
// are kept with it, so that which are kept does not hang on their order.
std::size_t Keep(Scratch& s, std::size_t t) {
    const std::size_t stride = s.predicted.size();
    std::uint16_t* link = &s.links[t * stride];
    const std::uint64_t highest = HighestKept(s);
    std::size_t kept = 0;
    ForEachTouched(s, [&](std::size_t index) {
        const std::size_t first = index * s.perIndex;
        for (std::size_t j = 0; j < s.filled[index]; ++j) {
            if (s.slotError[first + j] > highest) break;
            s.predicted[kept] = s.slotPredicted[first + j];
            s.index[kept] = static_cast<int>(index);
            s.error[kept] = s.slotError[first + j];
            link[kept] = s.slotLink[first + j];
            ++kept;
        }
    });
    return kept;
}

// The squared error of the default encoder's codes for the block from
// `startIndex`, over the samples the codes before the last stand for.
// `counted`: the codes whose samples count, from the first.
std::uint64_t GreedyError(const short* row, std::size_t counted, unsigned char startIndex) {
    IMA_ADPCM codec;
    codec.PredictedValue = row[0];
    codec.StepIndex = startIndex;
    std::uint64_t error = 0;
    for (std::size_t i = 1; i <= counted; ++i) {
        codec.Encodes(row[i]);
        error += Square(row[i] - codec.PredictedValue);
    }
    return error;
}

unsigned char GreedyEncode(const short* row, std::size_t codesPerBlock, unsigned char startIndex,
                           unsigned char* codes) {
    IMA_ADPCM codec;
    codec.PredictedValue = row[0];
    codec.StepIndex = startIndex;
    for (std::size_t i = 0; i < codesPerBlock; ++i) {
        PutCode(codes, i, static_cast<unsigned int>(codec.Encodes(row[i + 1])));
    }
    return startIndex;
}

}  // namespace

struct BestBlockEncoder::Scratch : codec::Scratch {
    using codec::Scratch::Scratch;
};

BestBlockEncoder::BestBlockEncoder(std::size_t width, std::size_t perIndex, SearchCodes codes)
    : scratch_(std::make_unique<Scratch>(width, perIndex, codes)) {}
BestBlockEncoder::~BestBlockEncoder() = default;
BestBlockEncoder::BestBlockEncoder(BestBlockEncoder&&) noexcept = default;
BestBlockEncoder& BestBlockEncoder::operator=(BestBlockEncoder&&) noexcept = default;

unsigned char BestBlockEncoder::Encode(const short* row, std::size_t codesPerBlock,
                                       unsigned char* codes, std::size_t samples,
                                       std::uint64_t* squaredError) {
    return Search(row, codesPerBlock, nullptr, codes, samples, squaredError);
}

void BestBlockEncoder::EncodeFrom(const short* row, std::size_t codesPerBlock,
                                  unsigned char startIndex, unsigned char* codes,
                                  std::size_t samples, std::uint64_t* squaredError) {
    Search(row, codesPerBlock, &startIndex, codes, samples, squaredError);
}

unsigned char BestBlockEncoder::Search(const short* row, std::size_t codesPerBlock,
                                       const unsigned char* startIndex, unsigned char* codes,
                                       std::size_t samples, std::uint64_t* squaredError) {
    Scratch& s = *scratch_;
    // Without a start index given, every one is a path at first, so the
    // header's index is chosen with the codes.
    std::size_t paths = 0;
    for (std::size_t i = 0; i < kStartIndices; ++i) {
        if (startIndex && i != *startIndex) continue;
        s.predicted[paths] = row[0];
        s.index[paths] = static_cast<int>(i);
        s.error[paths] = 0;
        ++paths;
    }
    const std::size_t stride = s.predicted.size();
    const std::size_t searched = codesPerBlock - 1;
    // The codes whose samples count: the block's own, but the opening one.
    const std::size_t counted = std::min(searched, samples > 0 ? samples - 1 : 0);
    for (std::size_t t = 0; t < searched; ++t) {
        Extend(s, paths, row[t + 1], t < counted);
        paths = Keep(s, t);
    }

    // The least error; of equals, the larger step, readier for what follows.
    std::size_t best = 0;
    for (std::size_t k = 1; k < paths; ++k) {
        if (s.error[k] <= s.error[best]) best = k;
    }
    IMA_ADPCM last;
    last.PredictedValue = static_cast<short>(s.predicted[best]);
    last.StepIndex = static_cast<unsigned char>(s.index[best]);
    PutCode(codes, searched, static_cast<unsigned int>(last.Encodes(row[codesPerBlock])));
    std::size_t path = best;
    for (std::size_t t = searched; t-- > 0;) {
        const std::uint16_t link = s.links[t * stride + path];
        PutCode(codes, t, EarlierCode(link));
        path = link >> kCodeBits;
    }
    const auto start = startIndex ? *startIndex : static_cast<unsigned char>(path);

    // The search drops paths, and one of them may have caught up; the
    // default's codes, from the indices the default starts from and from the
    // search's (from the one given, if any), are the floor.
    std::uint64_t lowest = searched ? s.error[best] : 0;
    unsigned char greedyStart = 0;
    bool greedy = false;
    const unsigned char defaults[] = {kLaterBlockStepIndex, FirstBlockStepIndex(row[0]), start};
    for (const unsigned char index : defaults) {
        if (startIndex && index != *startIndex) continue;
        const std::uint64_t error = GreedyError(row, counted, index);
        if (error < lowest) {
            lowest = error;
            greedyStart = index;
            greedy = true;
        }
    }
    if (squaredError) *squaredError = lowest;
    return greedy ? GreedyEncode(row, codesPerBlock, greedyStart, codes) : start;
}

}  // namespace codec
