// Detection and the repairs of mojibake: every form named from real
// sentences and from the examples people meet, the thin cases, other
// languages, and the three repairs checked byte by byte against iconv's
// Windows-1252.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iconv_oracle.h"
#include "oracle.h"
#include "process.h"
#include "viqr.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers

// `in` from `from` to `to`, fed in pieces of `piece` bytes (whole by default).
std::string convert(const char *from, const char *to, const std::string &in, std::size_t piece = 0) {
    viqr_converter *c = viqr_converter_open(viqr_encoding_lookup(from), viqr_encoding_lookup(to), 0);
    EXPECT_NE(c, nullptr) << from << " to " << to;
    if (c == nullptr) return {};
    if (piece == 0) piece = in.size() + 1;
    std::vector<unsigned char> room(viqr_convert_room(piece));
    std::string out;
    for (std::size_t at = 0; at < in.size(); at += piece) {
        const std::size_t n = std::min(piece, in.size() - at);
        out.append(reinterpret_cast<const char *>(room.data()),
                   viqr_convert(c, reinterpret_cast<const unsigned char *>(in.data()) + at, n, room.data()));
    }
    out.append(reinterpret_cast<const char *>(room.data()), viqr_convert_finish(c, room.data()));
    viqr_converter_close(c);
    return out;
}

// What Windows shows for `bytes` read as Windows-1252, saved as UTF-8: iconv's
// reading, and U+0081 and so on for the five bytes it leaves undefined.
std::string shown_as_cp1252(const std::string &bytes) {
    std::string out;
    for (unsigned char b : bytes) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) {
            out += static_cast<char>(0xC2);
            out += static_cast<char>(b);
            continue;
        }
        const std::optional<std::string> shown = iconv_convert("CP1252", "UTF-8", std::string(1, static_cast<char>(b)));
        EXPECT_TRUE(shown.has_value()) << int(b);
        out += shown.value_or("");
    }
    return out;
}

bool have_iconv_cp1252() { return iconv_convert("CP1252", "UTF-8", "\x80").has_value(); }

std::string verdict_name(int encoding) {
    if (encoding == VIQR_DETECT_ASCII) return "ascii";
    if (encoding == VIQR_DETECT_UNKNOWN) return "unknown";
    if (encoding == VIQR_DETECT_TOO_LITTLE) return "too little";
    return viqr_encoding_name(encoding);
}

viqr_detection detect(const std::string &text) {
    viqr_detection d[4];
    EXPECT_GE(viqr_detect(reinterpret_cast<const unsigned char *>(text.data()), text.size(), d, 4), 1);
    return d[0];
}

// A sentence that reads as Vietnamese in every form, with capitals, every
// tone and the shaped letters.
const std::string SENTENCE = "C\xE1\xBB\x99ng h\xC3\xB2" "a X\xC3\xA3 h\xE1\xBB\x99i Ch\xE1\xBB\xA7 ngh\xC4\xA9" "a "
                             "Vi\xE1\xBB\x87t Nam, \xC4\x91\xE1\xBB\x99" "c l\xE1\xBA\xADp, t\xE1\xBB\xB1 do, "
                             "h\xE1\xBA\xA1nh ph\xC3\xBA" "c. Ng\xC6\xB0\xE1\xBB\x9Di ta n\xC3\xB3i ti\xE1\xBA\xBFng "
                             "Vi\xE1\xBB\x87t \xE1\xBB\x9F \xC4\x91\xC3\xA2y.\n";

// ---------------------------------------------------------------------------
// Every form of the same text is named.

struct form_case {
    const char *form;      // what the text is in
    const char *named;     // what detection must say
};

class EveryForm : public testing::TestWithParam<form_case> {};

// The legacy and Unicode forms are written by the library's own encoders
// (checked against iconv and recode in codecs_test); the mojibake through
// iconv's Windows-1252.
std::string in_form(const std::string &form) {
    if (form == "utf-8-as-cp1252") return shown_as_cp1252(SENTENCE);
    if (form == "tcvn3-as-cp1252") return shown_as_cp1252(convert("utf-8", "tcvn3", SENTENCE));
    if (form == "vni-as-cp1252") return shown_as_cp1252(convert("utf-8", "vni", SENTENCE));
    return convert("utf-8", form.c_str(), SENTENCE);
}

TEST_P(EveryForm, IsNamed) {
    REQUIRE_ORACLE(have_iconv_cp1252(), "iconv lacks CP1252");
    const form_case &c = GetParam();
    const std::string text = in_form(c.form);
    const viqr_detection d = detect(text);
    EXPECT_EQ(verdict_name(d.encoding), c.named);
    EXPECT_GE(d.confidence, 80);
    // And what it is named as reads back as the sentence (TCVN3 has no
    // capitals with a tone: none in the sentence).
    EXPECT_EQ(convert(c.named, "utf-8", text), SENTENCE);
}

INSTANTIATE_TEST_SUITE_P(Forms, EveryForm,
                         testing::Values(form_case{"utf-8", "utf-8"}, form_case{"utf-8-nfd", "utf-8-nfd"},
                                         form_case{"viscii", "viscii"}, form_case{"tcvn3", "tcvn3"},
                                         form_case{"vni", "vni"}, form_case{"vps", "vps"},
                                         form_case{"cp1258", "cp1258"}, form_case{"viqr", "viqr"},
                                         form_case{"ncr", "ncr"},
                                         form_case{"utf-8-as-cp1252", "utf-8-as-cp1252"},
                                         form_case{"tcvn3-as-cp1252", "tcvn3-as-cp1252"},
                                         form_case{"vni-as-cp1252", "vni-as-cp1252"}),
                         [](const testing::TestParamInfo<form_case> &info) {
                             std::string name = info.param.form;
                             for (char &ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

// VIQR as tonedown writes it opens with the mode announcement; without it,
// the text was typed (nothing escaped), and is named for the typed reader,
// which reads a dot after a vowel as the full stop it is.
TEST(TypedViqr, IsNamedForTheTypedReader) {
    std::string typed;
    const std::string strict = convert("utf-8", "viqr", SENTENCE);
    ASSERT_EQ(strict.compare(0, 2, "\\V"), 0);
    for (std::size_t i = 2; i < strict.size(); ++i)
        if (strict[i] != '\\') typed += strict[i];
    EXPECT_EQ(verdict_name(detect(strict).encoding), "viqr");
    EXPECT_EQ(verdict_name(detect(typed).encoding), "viqr-typed");
    EXPECT_EQ(convert("viqr-typed", "utf-8", typed), SENTENCE);
}

// VN1 is TCVN3 with the capitals that carry a tone: a text that has them is
// VN1, one without them reads the same either way and is named tcvn3.
TEST(Vn1, IsNamedByItsCapitals) {
    const std::string capitals = "\xE1\xBB\x9E \xC4\x91\xC3\xA2y. \xE1\xBA\xA4N \xC4\x90\xE1\xBB\x98 "
                                 "V\xC3\x80 VI\xE1\xBB\x86T NAM. " + SENTENCE;  // Ở đây. ẤN ĐỘ VÀ VIỆT NAM.
    EXPECT_EQ(verdict_name(detect(convert("utf-8", "vn1", capitals)).encoding), "vn1");
    EXPECT_EQ(verdict_name(detect(convert("utf-8", "vn1", SENTENCE)).encoding), "tcvn3");
}

// ---------------------------------------------------------------------------
// The cases the issue names, and the thin ones.

struct text_case {
    const char *what;
    std::string text;
    const char *named;
};

class Texts : public testing::TestWithParam<text_case> {};

TEST_P(Texts, AreNamed) { EXPECT_EQ(verdict_name(detect(GetParam().text).encoding), GetParam().named) << GetParam().what; }

INSTANTIATE_TEST_SUITE_P(
    Cases, Texts,
    testing::Values(
        // The three mojibake of the issue, as people meet them.
        text_case{"tcvn3 read as cp1252", "C\xC3\xA9ng h\xC3\x9F" "a X\xC2\xB7 h\xC3\xA9i Ch\xC3\xB1 ngh\xC3\x9C" "a "
                                          "Vi\xC3\x96t Nam", "tcvn3-as-cp1252"},
        text_case{"vni read as cp1252", "Co\xC3\xA4ng ho\xC3\xB8" "a xa\xC3\xB5 ho\xC3\xA4i chu\xC3\xBB "
                                        "ngh\xC3\xB3" "a Vie\xC3\xA4t Nam", "vni-as-cp1252"},
        // English with a few Vietnamese words, in UTF-8 and in TCVN3.
        text_case{"mixed utf-8", "The report was written in Vi\xE1\xBB\x87t Nam by Nguy\xE1\xBB\x85n V\xC4\x83n "
                                 "An for the office in H\xC3\xA0 N\xE1\xBB\x99i and the school in Hu\xE1\xBA\xBF.",
                  "utf-8"},
        text_case{"mixed tcvn3", "The report was written in Vi\xD6t Nam by Nguy\xD3n V\xA8n An for the office in "
                                 "H\xB5 N\xE9i and the school in Hu\xD5.", "tcvn3"},
        // Plain English is ascii; VIQR is not.
        text_case{"english", "This is plain English text; it has no letters beyond ASCII at all.\n", "ascii"},
        // References to Vietnamese letters, decimal or hexadecimal, are NCR;
        // an English page with a few references to symbols stays ascii.
        text_case{"hexadecimal references", "C&#x1ED9;ng h&#xF2;a x&#xE3; h&#x1ED9;i ch&#x1EE7; ngh&#x129;a "
                                            "Vi&#x1EC7;t Nam", "ncr"},
        text_case{"mixed references", "The report was written in Vi&#7879;t Nam by Nguy&#7877;n V&#259;n An for "
                                      "the office in H&#224; N&#7897;i and the school in Hu&#7871;.", "ncr"},
        text_case{"symbol references", "&lt;p&gt; Copyright &#169; 2020 &#8212; all rights reserved by the "
                                       "authors.\n", "ascii"},
        // tonedown's announcement at the very start makes one syllable
        // enough; alone it is not, and anywhere else it changes nothing (the
        // same text without the announcement is ascii).
        text_case{"announced english mode", "\\MWhat's new? Read Truy\\e^.n.\n", "viqr"},
        text_case{"announced vietnamese mode", "\\VRead Truye^.n. Where\\?\n", "viqr"},
        text_case{"announced without marks", "\\MWhat is new here today.\n", "ascii"},
        text_case{"announcement inside", "What's new? \\MRead \"Truy\\e^.n Ki\\e^`u\".\n", "ascii"},
        // Too little to tell.
        text_case{"nothing", "", "too little"},
        text_case{"digits", "12 345 6789\n3.14 2.71\n", "too little"},
        text_case{"one word", "Vi\xE1\xBB\x87t\n", "too little"},
        text_case{"one legacy word", "Vi\xD6t\n", "too little"},
        text_case{"a few bytes", "ab\xE9", "too little"},
        // Other languages: UTF-8 stays UTF-8, their code pages are no
        // Vietnamese encoding.
        text_case{"french utf-8", "L'\xC3\xA9t\xC3\xA9 dernier, nous sommes all\xC3\xA9s \xC3\xA0 la for\xC3\xAA"
                                  "t pr\xC3\xA8s du ch\xC3\xA2teau o\xC3\xB9 la rivi\xC3\xA8re coule.", "utf-8"},
        text_case{"french cp1252", "L'\xE9t\xE9 dernier, nous sommes all\xE9s \xE0 la for\xEAt pr\xE8s du ch\xE2teau "
                                   "o\xF9 la rivi\xE8re coule, et les enfants ont jou\xE9 toute la journ\xE9" "e.",
                  "unknown"},
        text_case{"german cp1252", "Die B\xFC" "cher wurden gr\xFCndlich gepr\xFC" "ft, bevor die M\xE4" "dchen "
                                   "sie in die gro\xDF" "e Bibliothek \xFC" "bertrugen und \xF6" "ffneten.",
                  "unknown"},
        text_case{"portuguese cp1252", "N\xE3o \xE9 poss\xEDvel abrir o ficheiro; a opera\xE7\xE3o n\xE3o \xE9 "
                                       "suportada nesta vers\xE3o do programa.", "unknown"},
        text_case{"polish cp1250", "Nie mo\xBFna otworzy\xE6 pliku, poniewa\xBF \xBC" "r\xF3" "d\xB3o nie "
                                   "istnieje albo jest zaj\xEAte przez inny proces.", "unknown"}),
    [](const testing::TestParamInfo<text_case> &info) {
        std::string name = info.param.what;
        for (char &ch : name)
            if (ch == ' ' || ch == '-') ch = '_';
        return name;
    });

// The example of UTF-8 read as Windows-1252: "Tiáº¿ng Viá»‡t".
TEST(Mojibake, Utf8ReadAsCp1252IsNamed) {
    REQUIRE_ORACLE(have_iconv_cp1252(), "iconv lacks CP1252");
    const std::string phrase = "Ti\xE1\xBA\xBFng Vi\xE1\xBB\x87t l\xC3\xA0 ng\xC3\xB4n ng\xE1\xBB\xAF "
                               "c\xE1\xBB\xA7" "a ng\xC6\xB0\xE1\xBB\x9Di Vi\xE1\xBB\x87t";
    const std::string shown = shown_as_cp1252(phrase);
    ASSERT_EQ(shown.rfind("Ti\xC3\xA1\xC2\xBA\xC2\xBFng Vi\xC3\xA1\xC2\xBB\xE2\x80\xA1t", 0), 0u);
    EXPECT_EQ(verdict_name(detect(shown).encoding), "utf-8-as-cp1252");
    EXPECT_EQ(convert("utf-8-as-cp1252", "utf-8", shown), phrase);
}

// Valid UTF-8 that reads well is never repaired, even where the repair
// would read too: é and ê read as Windows-1252 bytes make no UTF-8.
TEST(Safety, GoodUtf8IsNeverRepaired) {
    EXPECT_EQ(verdict_name(detect(SENTENCE + SENTENCE).encoding), "utf-8");
    viqr_detection d[16];
    const int n = viqr_detect(reinterpret_cast<const unsigned char *>(SENTENCE.data()), SENTENCE.size(), d, 16);
    for (int i = 1; i < n; ++i) EXPECT_LT(d[i].confidence, d[0].confidence) << verdict_name(d[i].encoding);
}

// The ranked list: the verdict first, then every other reading once, none
// giving the same text as one before it; room is respected.
TEST(Ranking, ListsOtherReadingsOnce) {
    const std::string tcvn3 = convert("utf-8", "tcvn3", SENTENCE);
    viqr_detection d[32];
    const int n = viqr_detect(reinterpret_cast<const unsigned char *>(tcvn3.data()), tcvn3.size(), d, 32);
    ASSERT_GE(n, 3);
    EXPECT_EQ(verdict_name(d[0].encoding), "tcvn3");
    for (int i = 1; i < n; ++i) {
        EXPECT_NE(d[i].encoding, d[0].encoding);
        EXPECT_NE(verdict_name(d[i].encoding), "vn1") << "the same text as tcvn3 here";
    }
    EXPECT_EQ(viqr_detect(reinterpret_cast<const unsigned char *>(tcvn3.data()), tcvn3.size(), d, 1), 1);
    EXPECT_EQ(viqr_detect(reinterpret_cast<const unsigned char *>(tcvn3.data()), tcvn3.size(), d, 0), 0);
    EXPECT_EQ(viqr_detect(nullptr, 5, d, 4), 0);
}

// A text with Vietnamese only far in: detection reads on past its first
// stages until the evidence comes.
TEST(Reading, GoesOnUntilTheEvidence) {
    std::string text;
    while (text.size() < 300000) text += "The quick brown fox jumps over the lazy dog again and again.\n";
    text += convert("utf-8", "vni", SENTENCE + SENTENCE);
    EXPECT_EQ(verdict_name(detect(text).encoding), "vni");
}

TEST(AutoConverter, OpensFromTheVerdict) {
    const std::string vni = convert("utf-8", "vni", SENTENCE);
    viqr_detection verdict{};
    viqr_converter *c = viqr_converter_open_auto(reinterpret_cast<const unsigned char *>(vni.data()), vni.size(),
                                                 viqr_encoding_lookup("utf-8"), 0, &verdict);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(verdict_name(verdict.encoding), "vni");
    std::vector<unsigned char> out(viqr_convert_room(vni.size()));
    std::string text(reinterpret_cast<const char *>(out.data()),
                     viqr_convert(c, reinterpret_cast<const unsigned char *>(vni.data()), vni.size(), out.data()));
    text.append(reinterpret_cast<const char *>(out.data()), viqr_convert_finish(c, out.data()));
    viqr_converter_close(c);
    EXPECT_EQ(text, SENTENCE);

    errno = 0;
    EXPECT_EQ(viqr_converter_open_auto(reinterpret_cast<const unsigned char *>("42"), 2, 0, 0, &verdict), nullptr);
    EXPECT_EQ(errno, EILSEQ);
    EXPECT_EQ(verdict.encoding, VIQR_DETECT_TOO_LITTLE);
}

// ---------------------------------------------------------------------------
// The repairs undo Windows-1252 exactly.

// Every byte shown as Windows-1252 and saved as UTF-8 reads back as the byte
// in the inner encoding, the five undefined ones included.
TEST(Repairs, EveryByteComesBack) {
    REQUIRE_ORACLE(have_iconv_cp1252(), "iconv lacks CP1252");
    for (const char *inner : {"tcvn3", "vni"}) {
        const std::string repair = std::string(inner) + "-as-cp1252";
        for (int b = 0; b < 256; ++b) {
            const std::string byte(1, static_cast<char>(b));
            EXPECT_EQ(convert(repair.c_str(), "utf-8", shown_as_cp1252(byte)), convert(inner, "utf-8", byte))
                << repair << " byte " << b;
        }
    }
}

// Every letter of the inventory, as UTF-8 shown through Windows-1252 (where
// ờ's last byte is one of the five undefined ones), comes back; and any cut
// of the input gives the same text.
TEST(Repairs, EveryLetterComesBackInAnyPieces) {
    REQUIRE_ORACLE(have_iconv_cp1252(), "iconv lacks CP1252");
    const std::string letters = convert("viscii", "utf-8", [] {
        std::string all;
        for (int b = 0x80; b < 0x100; ++b) all += static_cast<char>(b);
        return all + "\x02\x05\x06\x14\x19\x1E";
    }());
    const std::string shown = shown_as_cp1252(letters);
    for (std::size_t piece : {0, 1, 2, 3, 7})
        EXPECT_EQ(convert("utf-8-as-cp1252", "utf-8", shown, piece), letters) << piece;
    const std::string vni_shown = shown_as_cp1252(convert("utf-8", "vni", letters));
    for (std::size_t piece : {0, 1, 2, 5}) EXPECT_EQ(convert("vni-as-cp1252", "utf-8", vni_shown, piece), letters);
}

// What is not mojibake of anything is undefined input, reported with the
// offset of the character that is not a Windows-1252 one.
TEST(Repairs, ReportTheFirstCharacterNoByteShows) {
    viqr_converter *c = viqr_converter_open(viqr_encoding_lookup("utf-8-as-cp1252"), viqr_encoding_lookup("utf-8"), 0);
    ASSERT_NE(c, nullptr);
    const std::string in = "ab Vi\xE1\xBB\x87t";  // ệ was never shown by Windows-1252
    std::vector<unsigned char> out(viqr_convert_room(in.size()));
    std::string text(reinterpret_cast<const char *>(out.data()),
                     viqr_convert(c, reinterpret_cast<const unsigned char *>(in.data()), in.size(), out.data()));
    text.append(reinterpret_cast<const char *>(out.data()), viqr_convert_finish(c, out.data()));
    viqr_loss_report r{};
    EXPECT_EQ(viqr_convert_losses(c, &r), 1);
    viqr_converter_close(c);
    EXPECT_EQ(text, "ab Vi\xEF\xBF\xBDt");
    EXPECT_EQ(r.undefined, 1u);
    EXPECT_EQ(r.undefined_offset, 5u);
    EXPECT_EQ(r.undefined_byte, 0xE1);
}

// ---------------------------------------------------------------------------
// toneconv

run_result toneconv(const std::vector<std::string> &args, const std::string &input, const std::string &dir) {
    return run_program(program_path("toneconv"), args, input, "toneconv", dir);
}

TEST(ToneconvDetect, PrintsALineForEachInput) {
    scratch_dir dir;
    dir.write("old.txt", convert("utf-8", "tcvn3", SENTENCE));
    dir.write("moji.txt", "C\xC3\xA9ng h\xC3\x9F" "a X\xC2\xB7 h\xC3\xA9i Ch\xC3\xB1 ngh\xC3\x9C" "a Vi\xC3\x96t Nam\n");
    dir.write("en.txt", "This is plain English text; it has no letters beyond ASCII at all.\n");
    dir.write("digits.txt", "12 34 56\n");
    // More of its VIQR words read as Vietnamese than of its words as plain
    // English, but too few to take it for VIQR.
    dir.write("note.txt", "To^i ddi ho.c. The book is on the table.\n");
    const run_result r =
        toneconv({"--detect", "old.txt", "moji.txt", "en.txt", "digits.txt", "note.txt"}, "", dir.path());
    EXPECT_EQ(r.out, "old.txt: tcvn3 (94%)\n"
                     "moji.txt: tcvn3-as-cp1252 (87%)\n"
                     "en.txt: ascii (92%)\n"
                     "digits.txt: unknown (too little text to tell)\n"
                     "note.txt: ascii (55%); viqr-typed (60%) not taken: too little of it reads as Vietnamese\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);  // one input could not be told

    const run_result french = toneconv({"--detect"}, "L'\xE9t\xE9 dernier, nous sommes all\xE9s \xE0 la for\xEAt "
                                                     "pr\xE8s du ch\xE2teau o\xF9 la rivi\xE8re coule.", dir.path());
    EXPECT_EQ(french.out.rfind("standard input: unknown (no Vietnamese reading fits", 0), 0u) << french.out;
    const run_result one = toneconv({"--detect", "old.txt"}, "", dir.path());
    EXPECT_EQ(one.status, 0);
}

// A note tonedown wrote, with only two words with marks, is detected and
// converted as the VIQR it is.
TEST(ToneconvAuto, ConvertsAShortAnnouncedNote) {
    scratch_dir dir;
    dir.write("note.viqr", "\\MWhat's new? Read \"Truy\\e^.n Ki\\e^`u\".\n");
    EXPECT_EQ(toneconv({"--detect", "note.viqr"}, "", dir.path()).out, "note.viqr: viqr (66%)\n");
    const run_result r = toneconv({"note.viqr"}, "", dir.path());
    EXPECT_EQ(r.out, "What's new? Read \"Truy\xE1\xBB\x87n Ki\xE1\xBB\x81u\".\n");
    EXPECT_EQ(r.status, 0);
}

// The closest readings of a text no reading fits come highest confidence
// first, whatever their weights ranked them (VPS scores above VN1 here, as
// VN1 is the rarer encoding).
TEST(ToneconvDetect, NamesTheClosestHighestFirst) {
    scratch_dir dir;
    dir.write("odd.txt", "\xF1\xC2Y V\x80 \x83N \xF1\x12 Vi\x8Ct PH\xDA" "C n\xF3i T\x15 NAM m\xF6k \xDF\xB6");
    const run_result r = toneconv({"--detect", "odd.txt"}, "", dir.path());
    EXPECT_EQ(r.out, "odd.txt: unknown (no Vietnamese reading fits; the closest: vn1 (45%) or vps (40%))\n");
    const run_result converted = toneconv({"odd.txt"}, "", dir.path());
    EXPECT_EQ(converted.err, "toneconv: \"odd.txt\": cannot tell the encoding (no Vietnamese reading fits; the "
                             "closest: vn1 (45%) or vps (40%)); name it with -f, for example -f vn1 (toneconv -l "
                             "lists the encodings)\n");
    EXPECT_EQ(converted.status, 1);
}

// -f auto is the default: each input is read in its own encoding; an input
// that cannot be told is not converted, and the message says how to name it.
TEST(ToneconvAuto, ConvertsEachInputFromWhatItIs) {
    scratch_dir dir;
    dir.write("a.tcvn3", convert("utf-8", "tcvn3", SENTENCE));
    dir.write("b.vni", convert("utf-8", "vni", SENTENCE));
    dir.write("c.txt", "42\n");
    const run_result r = toneconv({"a.tcvn3", "c.txt", "b.vni"}, "", dir.path());
    EXPECT_EQ(r.out, SENTENCE + SENTENCE);
    // The example is utf-8 for plain ASCII, which reads alike in every encoding.
    EXPECT_EQ(r.err, "toneconv: \"c.txt\": cannot tell the encoding (too little text); name it with -f, for "
                     "example -f utf-8 (toneconv -l lists the encodings)\n");
    EXPECT_EQ(r.status, 1);
    const run_result named = toneconv({"-f", "utf-8", "c.txt"}, "", dir.path());
    EXPECT_EQ(named.out, "42\n");
    EXPECT_EQ(named.status, 0);
    const run_result explicit_auto = toneconv({"-f", "AUTO", "-t", "viqr", "a.tcvn3"}, "", dir.path());
    EXPECT_EQ(explicit_auto.out, convert("utf-8", "viqr", SENTENCE));
}

// An empty input converts to nothing under every encoding: it is no failure,
// in a list of files or on standard input.
TEST(ToneconvAuto, AnEmptyInputIsNoFailure) {
    scratch_dir dir;
    dir.write("a.tcvn3", convert("utf-8", "tcvn3", SENTENCE));
    dir.write("empty.txt", "");
    for (const auto &args : {std::vector<std::string>{"empty.txt", "a.tcvn3"}, {"a.tcvn3", "-"}}) {
        const run_result r = toneconv(args, "", dir.path());
        EXPECT_EQ(r.out, SENTENCE);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

// Plain ASCII is read on for detection far past the first read, in case
// Vietnamese follows; all that was read is then converted like the rest of
// the input.  Plain text of a few MiB, then a Vietnamese line.
TEST(ToneconvAuto, ConvertsAllThatDetectionReadOfALongInput) {
    scratch_dir dir;
    std::string text;
    while (text.size() < 6 * 1024 * 1024) text += "Plain English, one line after another of it.\n";
    dir.write("long.txt", text + SENTENCE);
    const run_result r = toneconv({"-t", "ncr", "long.txt"}, "", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.size(), text.size() + convert("utf-8", "ncr", SENTENCE).size());
    EXPECT_TRUE(r.out == text + convert("utf-8", "ncr", SENTENCE));
}

}  // namespace
