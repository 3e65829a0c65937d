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

// Measured on speech, tones, sweeps, plucks, noise and recordings
// (bench/fidelity.sh): each doubling of the width takes about twice the
// time; from 16 paths to 32 the median SNR gained 0.12 dB, and each doubling
// after that 0.1 to 0.17 dB, while 32 paths already decode better than
// ffmpeg's trellis at its widest.
const std::size_t kBestSearchWidth = 32;

namespace {

constexpr std::size_t kMaxCodes = 2048;
constexpr std::size_t kStartIndices = kMaxStepIndex + 1;
constexpr std::size_t kMaxWidth = 256;  // a path's parent fits in a byte

// The 16 codes in the order of the values they decode to: below the
// predictor, the largest magnitude first (position 0 is code 15), then above
// it from the smallest (position 8 is code 0).
constexpr int kLevels = 16;
// Codes tried on each path: the two whose values lie either side of the
// sample. A third, or a fourth, gained a few hundredths of a dB for half as
// much time again.
constexpr int kTried = 2;

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

// A candidate's rank: its squared error, then its place among the
// candidates, so that no two rank alike and the paths kept are the same
// whichever way they are picked out. A block's error is below
// 2047 * 65535^2 < 2^43, which leaves room for the place.
constexpr int kPlaceBits = 11;
constexpr std::uint64_t kUnranked = std::numeric_limits<std::uint64_t>::max();
static_assert(kMaxWidth * kTried <= (1u << kPlaceBits) &&
                  kStartIndices * kTried <= (1u << kPlaceBits),
              "a candidate's place fits beside its error");
static_assert((kMaxCodes - 1) * 65535ull * 65535ull < (1ull << (64 - kPlaceBits)),
              "a block's error fits beside a place");

// Candidates' ranks are sorted into this many buckets to find the paths kept.
constexpr std::size_t kBuckets = 64;

// Merging paths that reach the same state: a small open-addressing table
// keyed by (predictor, step index), its entries valid for one sample only.
constexpr int kMergeTableBits = 11;
constexpr std::size_t kMergeTableSize = std::size_t{1} << kMergeTableBits;
static_assert(kMergeTableSize >= 2 * kMaxWidth * kTried, "the merge table stays half empty");

// A sample's error can reach 65535, whose square passes int.
std::uint64_t Square(int value) {
    return static_cast<std::uint64_t>(std::int64_t{value} * value);
}

// A search's fixed memory, allocated once.
struct Scratch {
    explicit Scratch(std::size_t width)
        : width(std::clamp<std::size_t>(width, 1, kMaxWidth)),
          candidates(std::max(this->width, kStartIndices) * kTried),
          predicted(candidates),
          index(predicted.size()),
          error(predicted.size()),
          candidatePredicted(candidates),
          candidateIndex(candidates),
          candidateError(candidates),
          candidateLink(candidates),
          rank(candidates),
          rankScratch(candidates),
          bucket(candidates),
          link(candidates),
          links(kMaxCodes * this->width),
          merge(kMergeTableSize) {}

    std::size_t width;
    std::size_t candidates;
    // The paths kept, structure of arrays.
    std::vector<int> predicted, index;
    std::vector<std::uint64_t> error;
    // The paths tried from them at the current sample.
    std::vector<int> candidatePredicted, candidateIndex;
    std::vector<std::uint64_t> candidateError;
    // A path's parent (its place among the paths kept) and code: parent << 4 | code.
    std::vector<std::uint16_t> candidateLink;
    std::vector<std::uint64_t> rank, rankScratch;
    std::vector<unsigned char> bucket;
    int bucketShift = 0;
    std::uint64_t lowestRank = 0;  // of the candidates
    // The links of the paths being kept, before they go to `links`.
    std::vector<std::uint16_t> link;
    // links[t * width + k]: how path k after code t was reached.
    std::vector<std::uint16_t> links;
    std::vector<std::uint32_t> merge;
};

// How many of the moves from `index` fall short of `difference`: counted
// all at once, which is faster than a search that waits on each step.
int MovesBelow(int index, int difference) {
    const std::array<int, kLevels>& move = kLevelTable.move[index];
    int below = 0;
    for (int position = 0; position < kLevels; ++position) below += move[position] < difference;
    return below;
}

// Tries on each of the `paths` kept the codes either side of `sample`, and
// notes the lowest rank.
std::size_t Extend(Scratch& s, std::size_t paths, int sample) {
    std::size_t n = 0;
    std::uint64_t lowest = kUnranked;
    for (std::size_t k = 0; k < paths; ++k) {
        const int predicted = s.predicted[k], index = s.index[k];
        const int first = std::clamp(MovesBelow(index, sample - predicted) - 1, 0, kLevels - kTried);
        for (int position = first; position < first + kTried; ++position, ++n) {
            const int next = std::clamp(predicted + kLevelTable.move[index][position], kMinSample,
                                        kMaxSample);
            s.candidatePredicted[n] = next;
            s.candidateIndex[n] = kLevelTable.next[index][position];
            s.candidateError[n] = s.error[k] + Square(sample - next);
            s.candidateLink[n] = static_cast<std::uint16_t>(k << kCodeBits | CodeAt(position));
            s.rank[n] = s.candidateError[n] << kPlaceBits | n;
            lowest = std::min(lowest, s.rank[n]);
        }
    }
    s.lowestRank = lowest;
    return n;
}

// Of candidates that reach the same state, keeps the lowest-ranked: the
// others are unranked. An entry of the merge table holds the sample's stamp
// above the candidate's place, so that one load says both whether it is
// this sample's and whose it is.
void Merge(Scratch& s, std::size_t candidates, std::uint32_t stamp) {
    constexpr std::uint32_t kGolden = 2654435761u;
    const std::uint32_t stamped = stamp << 16;
    for (std::size_t n = 0; n < candidates; ++n) {
        const std::uint32_t state =
            static_cast<std::uint32_t>(s.candidatePredicted[n] - kMinSample) << 7 |
            static_cast<std::uint32_t>(s.candidateIndex[n]);
        std::size_t slot = (state * kGolden) >> (32 - kMergeTableBits);
        for (;; slot = (slot + 1) & (kMergeTableSize - 1)) {
            const std::uint32_t entry = s.merge[slot];
            if ((entry & 0xFFFF0000u) != stamped) {
                s.merge[slot] = stamped | static_cast<std::uint32_t>(n);
                break;
            }
            const std::size_t other = entry & 0xFFFFu;
            if (s.candidatePredicted[other] == s.candidatePredicted[n] &&
                s.candidateIndex[other] == s.candidateIndex[n]) {
                if (s.rank[n] < s.rank[other]) {
                    s.rank[other] = kUnranked;
                    s.merge[slot] = stamped | static_cast<std::uint32_t>(n);
                } else {
                    s.rank[n] = kUnranked;
                }
                break;
            }
        }
    }
}

// The highest rank of the `width` lowest-ranked candidates, or of all
// ranked ones if fewer. The ranks' distances from the lowest are counted
// into buckets whose width, a power of two, follows from the last sample's
// result, so that the answer lies among the few candidates of one bucket.
std::uint64_t HighestKept(Scratch& s, std::size_t candidates) {
    const std::uint64_t lowest = s.lowestRank;  // which merging keeps
    // Unranked candidates fall into the last bucket with the farthest.
    std::array<std::uint16_t, kBuckets> count{};
    for (std::size_t n = 0; n < candidates; ++n) {
        const auto bucket = static_cast<unsigned char>(
            std::min<std::uint64_t>((s.rank[n] - lowest) >> s.bucketShift, kBuckets - 1));
        s.bucket[n] = bucket;
        ++count[bucket];
    }
    std::size_t bucket = 0, below = 0;
    while (bucket < kBuckets && below + count[bucket] < s.width) below += count[bucket++];
    if (bucket == kBuckets) return kUnranked - 1;  // fewer candidates than paths

    std::size_t inBucket = 0;
    for (std::size_t n = 0; n < candidates; ++n) {
        s.rankScratch[inBucket] = s.rank[n];
        inBucket += s.bucket[n] == bucket;
    }
    const auto kth = s.rankScratch.begin() + (s.width - below - 1);
    std::nth_element(s.rankScratch.begin(), kth, s.rankScratch.begin() + inBucket);
    if (*kth == kUnranked) return kUnranked - 1;  // fewer ranked candidates than paths
    const std::uint64_t highest = *kth;
    // The next sample's spread is much like this one's: it should end about
    // half way through the buckets.
    int shift = 0;
    while (((highest - lowest) >> shift) >= kBuckets / 2) ++shift;
    s.bucketShift = shift;
    return highest;
}

// Keeps the `width` lowest-ranked candidates (all ranked ones if fewer), in
// their order, as the paths after code t; returns how many. Every candidate
// is written and only those kept move on: audio would mispredict a branch.
std::size_t Keep(Scratch& s, std::size_t candidates, std::size_t t) {
    const std::uint64_t highest = HighestKept(s, candidates);
    std::uint16_t* link = &s.links[t * s.width];
    std::size_t kept = 0;
    for (std::size_t n = 0; n < candidates; ++n) {
        s.predicted[kept] = s.candidatePredicted[n];
        s.index[kept] = s.candidateIndex[n];
        s.error[kept] = s.candidateError[n];
        s.link[kept] = s.candidateLink[n];
        kept += s.rank[n] <= highest;
    }
    std::copy_n(s.link.begin(), kept, link);
    return kept;
}

// The squared error of the default encoder's codes for the block from
// `startIndex`, over the samples the codes before the last stand for.
std::uint64_t GreedyError(const short* row, std::size_t codesPerBlock, unsigned char startIndex) {
    IMA_ADPCM codec;
    codec.PredictedValue = row[0];
    codec.StepIndex = startIndex;
    std::uint64_t error = 0;
    for (std::size_t i = 1; i < codesPerBlock; ++i) {
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

BestBlockEncoder::BestBlockEncoder(std::size_t width)
    : scratch_(std::make_unique<Scratch>(width)) {}
BestBlockEncoder::~BestBlockEncoder() = default;
BestBlockEncoder::BestBlockEncoder(BestBlockEncoder&&) noexcept = default;
BestBlockEncoder& BestBlockEncoder::operator=(BestBlockEncoder&&) noexcept = default;

unsigned char BestBlockEncoder::Encode(const short* row, std::size_t codesPerBlock,
                                       unsigned char* codes) {
    Scratch& s = *scratch_;
    // Every start index is a path at first, so the header's index is chosen
    // with the codes.
    for (std::size_t i = 0; i < kStartIndices; ++i) {
        s.predicted[i] = row[0];
        s.index[i] = static_cast<int>(i);
        s.error[i] = 0;
    }
    std::fill(s.merge.begin(), s.merge.end(), 0);
    s.bucketShift = 0;
    std::size_t paths = kStartIndices;
    const std::size_t searched = codesPerBlock - 1;
    for (std::size_t t = 0; t < searched; ++t) {
        const std::size_t candidates = Extend(s, paths, row[t + 1]);
        Merge(s, candidates, static_cast<std::uint32_t>(t + 1));
        paths = Keep(s, candidates, t);
    }

    std::size_t best = 0;
    for (std::size_t k = 1; k < paths; ++k) {
        if (s.error[k] < s.error[best]) best = k;
    }
    IMA_ADPCM last;
    last.PredictedValue = static_cast<short>(s.predicted[best]);
    last.StepIndex = static_cast<unsigned char>(s.index[best]);
    PutCode(codes, searched, static_cast<unsigned int>(last.Encodes(row[codesPerBlock])));
    std::size_t path = best;
    for (std::size_t t = searched; t-- > 0;) {
        const std::uint16_t link = s.links[t * s.width + path];
        PutCode(codes, t, EarlierCode(link));
        path = link >> kCodeBits;
    }
    const auto start = static_cast<unsigned char>(path);

    // The search keeps paths that err least so far, and may drop one that
    // would have caught up; the default's codes, from the indices the
    // default starts from and from the search's, are the floor.
    std::uint64_t lowest = s.error[best];
    unsigned char greedyStart = 0;
    bool greedy = false;
    for (const unsigned char index : {kLaterBlockStepIndex, FirstBlockStepIndex(row[0]), start}) {
        const std::uint64_t error = GreedyError(row, codesPerBlock, index);
        if (error < lowest) {
            lowest = error;
            greedyStart = index;
            greedy = true;
        }
    }
    return greedy ? GreedyEncode(row, codesPerBlock, greedyStart, codes) : start;
}

}  // namespace codec
