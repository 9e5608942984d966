// UTF-8 to the single-byte charsets and VNI through every implementation:
// the fast lane (the kernel that reads UTF-8 into VISCII, then the
// charset's table, and the character-at-a-time loop where the kernel stops)
// must write what the general path writes and report the same losses, at
// the same places.
// The reference is the scalar implementation fed one byte at a time, which
// leaves every letter and every sequence of more than one byte to the
// general path.  At the end, the other way: the charsets to UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec.h"
#include "fast_lanes.h"
#include "implementations.h"
#include "seeded_random.h"
#include "viqr.h"

namespace {

using viqr_test::OnEveryImplementation;

struct converted {
    std::string out;
    viqr_loss_report losses{};
};

// Converts `in` from `from` to `to`, in pieces of `piece` bytes (the whole
// at once for 0), after `set_up` has chosen how the converter goes.
template <typename SetUp>
converted convert_between(const char *from, const char *to, const std::string &in, std::size_t piece, SetUp set_up) {
    converted c;
    viqr_converter *converter = viqr_converter_open(viqr_encoding_lookup(from), viqr_encoding_lookup(to), 0);
    EXPECT_NE(converter, nullptr) << from << " to " << to;
    if (converter == nullptr) return c;
    set_up(converter);
    if (piece == 0) piece = in.size() + 1;
    std::vector<unsigned char> out(viqr_convert_room(piece));
    const auto *bytes = reinterpret_cast<const unsigned char *>(in.data());
    for (std::size_t at = 0; at < in.size(); at += piece) {
        const std::size_t written = viqr_convert(converter, bytes + at, std::min(piece, in.size() - at), out.data());
        c.out.append(reinterpret_cast<const char *>(out.data()), written);
    }
    const std::size_t written = viqr_convert_finish(converter, out.data());
    c.out.append(reinterpret_cast<const char *>(out.data()), written);
    viqr_convert_losses(converter, &c.losses);
    viqr_converter_close(converter);
    return c;
}

// Converts `in` from UTF-8 to `to` with `kernels`, in pieces of `piece`
// bytes (the whole at once for 0).
converted convert(const viqr::detail::implementation &kernels, const char *to, const std::string &in,
                  std::size_t piece = 0) {
    return convert_between("utf-8", to, in, piece,
                           [&](viqr_converter *converter) { viqr::detail::use_implementation(converter, kernels); });
}

void expect_same(const converted &got, const converted &want, const std::string &what) {
    EXPECT_EQ(got.out, want.out) << what;
    const viqr_loss_report &g = got.losses, &w = want.losses;
    EXPECT_EQ(g.unwritable, w.unwritable) << what;
    EXPECT_EQ(g.unwritable_first, w.unwritable_first) << what;
    EXPECT_EQ(g.unwritable_line, w.unwritable_line) << what;
    EXPECT_EQ(g.unwritable_column, w.unwritable_column) << what;
    EXPECT_EQ(g.substitutes, w.substitutes) << what;
    EXPECT_EQ(g.undefined, w.undefined) << what;
    EXPECT_EQ(g.undefined_offset, w.undefined_offset) << what;
}

// The encodings the lane writes: the single-byte charsets, and VNI, which
// writes a letter as one or two bytes as Windows-1258 does.
const char *const lane_targets[] = {"viscii", "viscii-1.0", "vn1", "tcvn3", "vps", "cp1258", "vni"};

// Letters of two and three bytes: the Vietnamese ones, and a few Latin
// letters that Vietnamese lacks (some of which Windows-1258 has).
const std::string letters[] = {
    "À", "Á", "Â", "Ã", "È", "É", "Ê", "Ì", "Í", "Ò", "Ó", "Ô", "Õ", "Ù", "Ú", "Ý", "à", "á", "â", "ã", "è", "é",
    "ê", "ì", "í", "ò", "ó", "ô", "õ", "ù", "ú", "ý", "Ă", "ă", "Ĩ", "ĩ", "Ũ", "ũ", "Ơ", "ơ", "Ư", "ư", "Ạ", "ạ",
    "Ả", "ả", "Ấ", "ấ", "Ầ", "ầ", "Ẩ", "ẩ", "Ẫ", "ẫ", "Ậ", "ậ", "Ắ", "ắ", "Ằ", "ằ", "Ẳ", "ẳ", "Ẵ", "ẵ", "Ặ", "ặ",
    "Ẹ", "ẹ", "Ẻ", "ẻ", "Ẽ", "ẽ", "Ế", "ế", "Ề", "ề", "Ể", "ể", "Ễ", "ễ", "Ệ", "ệ", "Ỉ", "ỉ", "Ị", "ị", "Ọ", "ọ",
    "Ỏ", "ỏ", "Ố", "ố", "Ồ", "ồ", "Ổ", "ổ", "Ỗ", "ỗ", "Ộ", "ộ", "Ớ", "ớ", "Ờ", "ờ", "Ở", "ở", "Ỡ", "ỡ", "Ợ", "ợ",
    "Ụ", "ụ", "Ủ", "ủ", "Ứ", "ứ", "Ừ", "ừ", "Ử", "ử", "Ữ", "ữ", "Ự", "ự", "Ỳ", "ỳ", "Ỵ", "ỵ", "Ỷ", "ỷ", "Ỹ", "ỹ",
    "Đ", "đ", "Î", "û", "Ĕ", "ŏ", "Ŷ", "ç", "ß"};

// What breaks plain text: combining marks (after a letter they join it),
// control codes (VISCII and VN1 have letters at some), punctuation some
// charsets have, characters none has, and invalid UTF-8.
const std::string disruptors[] = {
    "\xCC\x81", "\xCC\xA3", "\xCC\x82", "\xCC\x86", "\xCD\x80", "\x01", "\x02", "\x05", "\x14", "\x1E", "\x7F",
    "\t", "\r\n", "\n", "…", "“", "”", "€", "→", "中", "😀", "\xFF", "\x80", "\xE1\xBA", "\xC0\xAF",
    "\xE0\x80\x80", "\xED\xA0\x80", "\xE1\xBB", "\xCC"};

// Text that is mostly plain: words of letters and ASCII, spaces, commas,
// line breaks, and now and then (one in `rarity`) something else.
std::string random_text(std::mt19937 &random, std::size_t size, unsigned rarity) {
    std::string text;
    while (text.size() < size) {
        const unsigned word = 1 + below(random, 7);
        for (unsigned k = 0; k < word; ++k) {
            if (below(random, rarity) == 0) text += disruptors[below(random, std::size(disruptors))];
            if (below(random, 3) == 0) text += letters[below(random, std::size(letters))];
            else text += static_cast<char>((below(random, 8) == 0 ? 'A' : 'a') + below(random, 26));
        }
        const unsigned after = below(random, 20);
        text += after == 0 ? "\n" : after == 1 ? ", " : " ";
    }
    return text;
}

class utf8_lane : public OnEveryImplementation {};
VIQR_ON_EVERY_IMPLEMENTATION(utf8_lane);

// Random texts, from almost plain to often disrupted, whole and in random
// pieces.
TEST_P(utf8_lane, writes_what_the_general_path_writes) {
    auto random = seeded_random(2230);
    for (const unsigned rarity : {2000u, 300u, 40u, 6u}) {
        for (int round = 0; round < 6; ++round) {
            const std::string text = random_text(random, 200 + below(random, 9000), rarity);
            for (const char *to : lane_targets) {
                const converted want = convert(reference(), to, text, 1);
                expect_same(convert(kernels(), to, text), want, std::string(to) + " whole");
                const std::size_t piece = 1 + below(random, 700);
                expect_same(convert(kernels(), to, text, piece), want, std::string(to) + " in pieces of " + std::to_string(piece));
            }
        }
    }
}

// One thing that breaks plain text, at every place in a long plain line and
// the line after it: the blocks of every kernel end before it, after it and
// inside it, and a loss after the line breaks is placed by the characters
// the lane counted.
TEST_P(utf8_lane, one_disruption_anywhere) {
    auto random = seeded_random(2231);
    const std::string plain = random_text(random, 380, 1u << 30);
    std::vector<std::size_t> places;  // where characters start
    for (std::size_t at = 0; at <= plain.size(); ++at)
        if (at == plain.size() || (static_cast<unsigned char>(plain[at]) & 0xC0) != 0x80) places.push_back(at);
    const std::string inserts[] = {"\xCC\x81", "o\xCC\x81", "u\xCC\x9B\xCC\xA3", "\x02", "Ỗ", "Ễ", "€", "\n→", "\xE1\xBA"};
    for (const std::string &insert : inserts)
        for (const char *to : lane_targets)
            for (std::size_t at : places) {
                const std::string text = plain.substr(0, at) + insert + plain.substr(at) + plain;
                expect_same(convert(kernels(), to, text), convert(reference(), to, text, 1),
                            std::string(to) + ", inserted at " + std::to_string(at));
            }
}

}  // namespace

// ---------------------------------------------------------------------------
// A single-byte charset (or VNI, or a charset with combining tone bytes) to
// UTF-8: the lane that writes each byte's UTF-8 and joins a mark byte to the
// letter before it at once must write what the decoder, the letter joiner
// and the UTF-8 encoder write, and report the same undefined bytes.

namespace {

// Converts `in` from `from` to UTF-8 in pieces of `piece` bytes (the whole
// at once for 0), through the lane or through the general path.
converted read_to_utf8(const char *from, const std::string &in, bool lane, std::size_t piece = 0) {
    return convert_between(from, "utf-8", in, piece, [&](viqr_converter *converter) {
        if (!lane) viqr::detail::take_general_path(converter);
    });
}

// The encodings read through the lane, with the bytes of each that are
// letters a mark may change and the bytes that are marks.
struct byte_lane_source {
    const char *name;
    std::string letters, marks;
};

std::vector<byte_lane_source> byte_lane_sources() {
    std::vector<byte_lane_source> sources;
    for (int e = 0; e < viqr_encoding_count(); ++e) {
        if (!viqr_encoding_can_read(e)) continue;
        const auto decoder = viqr::detail::encoding_table()[e].make_decoder(0);
        const viqr::detail::byte_fields *fields = decoder->fields();
        if (fields == nullptr) continue;
        byte_lane_source source{viqr_encoding_name(e), {}, {}};
        for (int b = 0; b < 256; ++b) {
            if ((*fields)[b].letter != 0) source.letters += static_cast<char>(b);
            if ((*fields)[b].mark != 0) source.marks += static_cast<char>(b);
        }
        sources.push_back(source);
    }
    return sources;
}

}  // namespace

TEST(byte_lane, sources_include_those_with_mark_bytes) {
    std::string with_marks;
    for (const byte_lane_source &s : byte_lane_sources())
        if (!s.marks.empty()) with_marks += std::string(s.name) + " ";
    EXPECT_EQ(with_marks, "tcvn3 vn1 vni cp1258 ");
}

// Every letter followed by every mark byte and by every pair of them,
// separated by spaces and by nothing: each (letter, marks) entry of the
// lane's table, including a second mark that the letter made by the first
// no longer takes.
TEST(byte_lane, every_letter_with_every_mark_pair_as_the_general_path) {
    for (const byte_lane_source &s : byte_lane_sources()) {
        if (s.marks.empty()) continue;
        std::string text;
        for (const char letter : s.letters)
            for (const char first : s.marks) {
                text += {letter, first, ' '};
                for (const char second : s.marks) text += {letter, first, second, ' ', letter, first, second};
                text += '\n';
            }
        expect_same(read_to_utf8(s.name, text, true), read_to_utf8(s.name, text, false), s.name);
    }
}

// Random bytes, mostly letters, marks and ASCII words, with any byte now and
// then; whole and in random pieces (a letter held across pieces).
TEST(byte_lane, random_bytes_as_the_general_path) {
    auto random = seeded_random(2232);
    for (const byte_lane_source &s : byte_lane_sources()) {
        for (int round = 0; round < 8; ++round) {
            std::string text;
            const std::size_t size = 100 + below(random, 6000);
            while (text.size() < size) {
                const unsigned pick = below(random, 16);
                if (pick < 5 && !s.letters.empty()) text += s.letters[below(random, static_cast<unsigned>(s.letters.size()))];
                else if (pick < 8 && !s.marks.empty()) text += s.marks[below(random, static_cast<unsigned>(s.marks.size()))];
                else if (pick < 13) text += static_cast<char>('a' + below(random, 26));
                else if (pick < 14) text += "\n";
                else if (pick < 15) text += " ";
                else text += static_cast<char>(below(random, 256));
            }
            const converted want = read_to_utf8(s.name, text, false, 1);
            expect_same(read_to_utf8(s.name, text, true), want, std::string(s.name) + " whole");
            const std::size_t piece = 1 + below(random, 300);
            expect_same(read_to_utf8(s.name, text, true, piece), want,
                        std::string(s.name) + " in pieces of " + std::to_string(piece));
        }
    }
}
