// tonedown then toneup gives back the VISCII text unchanged: every sequence of
// one and two bytes through the encoder and the decoder engine in-process
// (fed a byte at a time, and in two chunks cut at every place), and
// random text and the bundled sample through the two programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "viqr.h"
#include "process.h"
#include "seeded_random.h"
#include "viqr_model.h"

namespace {

using viqr_model::hex;

struct setting {
    int mode;
    unsigned char composition;
};

// Quoted, so that no name ends in a backslash: ctest would take "\;" for part
// of the name and join it to the next one.
void PrintTo(const setting &s, std::ostream *os) {
    *os << (s.mode == MODE_ENGLISH ? "English" : "Vietnamese") << " with "
        << testing::PrintToString(std::string(1, char(s.composition)));
}

class RoundTrip : public testing::TestWithParam<setting> {
protected:
    std::string down(const std::string &viscii, std::size_t chunk = 1023) const {
        return viqr_model::tonedown_output(viqr_model::pieces_of(viscii, chunk), GetParam().mode,
                                           GetParam().composition);
    }

    // Records a failing input; shows the first few with what came back.
    bool expect_back(const std::string &viscii, const std::string &viqr, const std::string &back) {
        if (back == viscii) return true;
        if (++failures <= 5)
            ADD_FAILURE() << "input " << hex(viscii) << "\nVIQR  " << hex(viqr) << "\nback  " << hex(back);
        return false;
    }

    // Decoded a byte at a time with viqr_feed.
    void check(const std::string &viscii, std::size_t chunk = 1023) {
        const std::string viqr = down(viscii, chunk);
        expect_back(viscii, viqr, viqr_model::toneup_output(viqr, GetParam().composition));
    }

    // Decoded with viqr_feed_chunk, as toneup decodes, the VIQR cut into two
    // chunks at every position (the first or the second empty at the ends).
    void check_in_chunks(const std::string &viscii) {
        const std::string viqr = down(viscii);
        for (std::size_t cut = 0; cut <= viqr.size(); ++cut) {
            const std::string back = viqr_model::toneup_output_in_pieces(viqr_model::pieces_by_sizes(viqr, {cut}),
                                                                         GetParam().composition);
            if (!expect_back(viscii, viqr, back)) return;
        }
    }
    int failures = 0;
};

TEST_P(RoundTrip, EverySequenceOfOneAndTwoBytes) {
    for (int first = 0; first < 256; ++first) {
        check(std::string(1, char(first)));
        for (int second = 0; second < 256; ++second) check(std::string{char(first), char(second)});
    }
    EXPECT_EQ(failures, 0);
}

TEST_P(RoundTrip, EverySequenceOfOneAndTwoBytesDecodedInChunksCutAnywhere) {
    for (int first = 0; first < 256; ++first) {
        check_in_chunks(std::string(1, char(first)));
        for (int second = 0; second < 256; ++second) check_in_chunks(std::string{char(first), char(second)});
    }
    EXPECT_EQ(failures, 0);
}

// Pairs split between two chunks go through the encoder's carried history.
TEST_P(RoundTrip, EveryPairAcrossAChunkBoundary) {
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second) check(std::string{char(first), char(second)}, 1);
    EXPECT_EQ(failures, 0);
}

// Text made of the bytes that interact most: vowels with and without marks,
// D and đ, mark characters, mode letters, both composition characters, NUL.
std::string random_text(std::mt19937 &random, std::size_t length) {
    // The terminating zero of the literal is one of the bytes.
    static const char tricky_bytes[] = "aAeEiIoOuUyYdD\xF0\xD0\xE2\xC2\xE5\xEA\xF4\xBD\xDF\xBF\xE1\xA4"
                                       "\x02\x14'`?~.(^+VvMmLl\\# \n";
    static const std::string tricky(tricky_bytes, sizeof tricky_bytes);
    std::uniform_int_distribution<int> any_byte(0, 255), pick(0, int(tricky.size()) - 1), coin(0, 3);
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += coin(random) == 0 ? char(any_byte(random)) : tricky[pick(random)];
    return text;
}

TEST_P(RoundTrip, RandomTextInChunksOfEverySize) {
    std::mt19937 random = seeded_random(20240611u + unsigned(GetParam().mode) * 7u + GetParam().composition);
    for (std::size_t chunk : {1u, 2u, 3u, 7u, 64u, 1023u}) check(random_text(random, 8000), chunk);
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, RoundTrip,
                         testing::Values(setting{MODE_VIETNAMESE, '\\'}, setting{MODE_ENGLISH, '\\'},
                                         setting{MODE_VIETNAMESE, '#'}, setting{MODE_ENGLISH, '#'}));

std::vector<std::string> cut(const std::string &text, std::mt19937 &random, int pieces) {
    std::vector<std::size_t> at{0, text.size()};
    std::uniform_int_distribution<std::size_t> where(0, text.size());
    for (int i = 1; i < pieces; ++i) at.push_back(where(random));
    std::sort(at.begin(), at.end());
    std::vector<std::string> parts;
    for (std::size_t i = 0; i + 1 < at.size(); ++i) parts.push_back(text.substr(at[i], at[i + 1] - at[i]));
    return parts;
}

// The programs themselves, with the text given as several files to tonedown
// and its output cut into several files for toneup at other places.
TEST_P(RoundTrip, ThroughTheProgramsAsSeveralFiles) {
    const std::string options =
        std::string(GetParam().mode == MODE_ENGLISH ? " -m" : "") + " -com " + shell_quote(std::string(1, char(GetParam().composition)));
    std::mt19937 random = seeded_random(97u + unsigned(GetParam().mode) + GetParam().composition);
    for (int round = 0; round < 3; ++round) {
        scratch_dir dir;
        const std::string text = random_text(random, 6000);
        std::string down_files;
        int n = 0;
        for (const std::string &part : cut(text, random, 4))
            down_files.append(" ").append(shell_quote(dir.write("in" + std::to_string(n++), part)));
        const run_result down = run_shell("exec " + shell_quote(program_path("tonedown")) + options + down_files);
        ASSERT_EQ(down.status, 0) << down.err;

        std::string up_files;
        for (const std::string &part : cut(down.out, random, 4))
            up_files.append(" ").append(shell_quote(dir.write("viqr" + std::to_string(n++), part)));
        // toneup learns the mode from tonedown's announcement, not from a flag.
        const std::string composition = " -com " + shell_quote(std::string(1, char(GetParam().composition)));
        const run_result up = run_shell("exec " + shell_quote(program_path("toneup")) + composition + up_files);
        ASSERT_EQ(up.status, 0) << up.err;
        EXPECT_EQ(up.out, text) << "round " << round;
    }
}

TEST(RoundTripSample, TheBundledLetterComesBackInBothModes) {
    std::ifstream file(VIQR_SAMPLE, std::ios::binary);
    const std::string sample((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(sample.size(), 100u);
    for (const char *flag : {"-v", "-m"}) {
        SCOPED_TRACE(flag);
        const pipeline_result r =
            run_pipeline({shell_quote(program_path("tonedown")) + " " + flag + " " + shell_quote(VIQR_SAMPLE),
                          shell_quote(program_path("toneup"))});
        expect_clean_stages(r);
        EXPECT_TRUE(r.out == sample) << r.out.size() << " bytes back of " << sample.size();
    }
}

}  // namespace
