#include <gtest/gtest.h>

#include "convert/conversion.h"
#include "test_support.h"
#include "platform/arguments.h"

using convert::OutputPathFor;
using platform::ExpandWildcards;
using platform::MatchesWildcard;

namespace {

struct PathCase {
    const char* input;
    const char* output;
};

TEST(OutputPathFor, PutsEncBeforeTheStemInTheInputsDirectory) {
    const PathCase cases[] = {
        {"C:\\sound.lib\\take.one.wav", "C:\\sound.lib\\Enc_take.one.wav"},
        {"song.wav", "Enc_song.wav"},
        {"audio/song.wav", "audio/Enc_song.wav"},
        {"a.b/song", "a.b/Enc_song.wav"},
        {"C:\\a.b/c\\song", "C:\\a.b/c\\Enc_song.wav"},
        {"song", "Enc_song.wav"},
        {"dir/", "dir/Enc_.wav"},
    };
    for (const PathCase& c : cases) EXPECT_EQ(OutputPathFor(c.input), c.output) << c.input;
}

struct WildcardCase {
    const char* pattern;
    const char* name;
    bool matches;
};

TEST(MatchesWildcard, StarAndQuestionMark) {
    const WildcardCase cases[] = {
        {"*.wav", "take.wav", true},   {"*.wav", "take.wav.bak", false},
        {"t?ke.wav", "take.wav", true}, {"t?ke.wav", "tke.wav", false},
        {"*a*a*", "banana", true},     {"*a*b", "banana", false},
        {"*", "", true},               {"*", ".hidden", false},
        {".*", ".hidden", true},       {"take.wav", "take.wav", true},
    };
    for (const WildcardCase& c : cases) {
        EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " ~ " << c.name;
    }
}

TEST(ExpandWildcards, ReplacesPatternsByTheirSortedMatches) {
    TempDir temp;
    for (const char* name : {"b.wav", "a.wav", "c.txt", "odd?.wav"}) {
        WriteBytes(temp.work() / name, {});
    }
    const std::string dir = temp.work().string() + "/";
    const std::vector<std::string> expanded =
        ExpandWildcards({dir + "?.wav", dir + "*.none", dir + "odd?.wav", "literal"});
    const std::vector<std::string> expected = {dir + "a.wav", dir + "b.wav", dir + "*.none",
                                               dir + "odd?.wav", "literal"};
    EXPECT_EQ(expanded, expected);
}

}  // namespace
