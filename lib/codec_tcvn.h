// TCVN 5712:1993: VN1, every letter in one byte (iconv's TCVN5712-1), with
// combining tone bytes 0xB0..0xB4; and VN3 ("TCVN3", the ABC fonts such as
// .VnTime), its subset of the small letters and the seven capitals without a
// tone, with the Windows punctuation of the fonts' code page at 0x80..0x9F.
// A capital with a tone does not exist in TCVN3: documents drew it with a
// capital font, over the small letter's byte.
#pragma once

#include "codec_cp1252.h"
#include "codec_single_byte.h"

namespace viqr::detail {

inline constexpr byte_rows vn1_rows = {
    //          class     none  acute grave hook  tilde dot
    /*  0 */ /*      */ {0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    /*  1 */ /* D    */ {0x44, 0x00, 0x00, 0x00, 0x00, 0x00},
    /*  2 */ /* A    */ {0x41, 0x83, 0x80, 0x81, 0x82, 0x84},
    /*  3 */ /* Ă    */ {0xA1, 0xC0, 0xAF, 0xBA, 0xBF, 0x85},
    /*  4 */ /* Â    */ {0xA2, 0xC4, 0xC1, 0xC2, 0xC3, 0x86},
    /*  5 */ /* Đ    */ {0xA7, 0x00, 0x00, 0x00, 0x00, 0x00},
    /*  6 */ /* E    */ {0x45, 0x8A, 0x87, 0x88, 0x89, 0x8B},
    /*  7 */ /* I    */ {0x49, 0x90, 0x8D, 0x8E, 0x8F, 0x91},
    /*  8 */ /* Ê    */ {0xA3, 0xDA, 0xC5, 0xCD, 0xD9, 0x8C},
    /*  9 */ /* O    */ {0x4F, 0x95, 0x92, 0x93, 0x94, 0x96},
    /* 10 */ /* U    */ {0x55, 0x01, 0x9D, 0x9E, 0x9F, 0x02},
    /* 11 */ /* Ô    */ {0xA4, 0xFF, 0xDB, 0xE0, 0xF0, 0x97},
    /* 12 */ /* Ơ    */ {0xA5, 0x9B, 0x98, 0x99, 0x9A, 0x9C},
    /* 13 */ /* Ư    */ {0xA6, 0x11, 0x04, 0x05, 0x06, 0x12},
    /* 14 */ /* Y    */ {0x59, 0x16, 0x13, 0x14, 0x15, 0x17},
    /* 15 */ /* d    */ {0x64, 0x00, 0x00, 0x00, 0x00, 0x00},
    /* 16 */ /* a    */ {0x61, 0xB8, 0xB5, 0xB6, 0xB7, 0xB9},
    /* 17 */ /* ă    */ {0xA8, 0xBE, 0xBB, 0xBC, 0xBD, 0xC6},
    /* 18 */ /* â    */ {0xA9, 0xCA, 0xC7, 0xC8, 0xC9, 0xCB},
    /* 19 */ /* đ    */ {0xAE, 0x00, 0x00, 0x00, 0x00, 0x00},
    /* 20 */ /* e    */ {0x65, 0xD0, 0xCC, 0xCE, 0xCF, 0xD1},
    /* 21 */ /* i    */ {0x69, 0xDD, 0xD7, 0xD8, 0xDC, 0xDE},
    /* 22 */ /* ê    */ {0xAA, 0xD5, 0xD2, 0xD3, 0xD4, 0xD6},
    /* 23 */ /* o    */ {0x6F, 0xE3, 0xDF, 0xE1, 0xE2, 0xE4},
    /* 24 */ /* u    */ {0x75, 0xF3, 0xEF, 0xF1, 0xF2, 0xF4},
    /* 25 */ /* ô    */ {0xAB, 0xE8, 0xE5, 0xE6, 0xE7, 0xE9},
    /* 26 */ /* ơ    */ {0xAC, 0xED, 0xEA, 0xEB, 0xEC, 0xEE},
    /* 27 */ /* ư    */ {0xAD, 0xF8, 0xF5, 0xF6, 0xF7, 0xF9},
    /* 28 */ /* y    */ {0x79, 0xFD, 0xFA, 0xFB, 0xFC, 0xFE},
};

// The combining tone bytes, in tone order (acute, grave, hook, tilde, dot).
inline constexpr unsigned char vn1_tone_bytes[TONE_COUNT - 1] = {0xB3, 0xB0, 0xB1, 0xB2, 0xB4};

constexpr void put_tone_bytes(std::array<char32_t, 256> &table) {
    for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone) table[vn1_tone_bytes[tone - 1]] = combining_tone(tone);
}

constexpr single_byte_charset make_vn1() {
    single_byte_charset c{};
    c.decode = ascii_and_undefined();
    c.decode[0xA0] = 0x00A0;
    put_letters(c.decode, vn1_rows, [](int, int) { return true; });
    put_tone_bytes(c.decode);
    return c;
}

// A letter TCVN3 writes: a small letter, or a capital without a tone.
constexpr bool in_tcvn3(int cls, int tone) { return cls > CASE_DISTANCE || tone == TONE_NONE; }

// TCVN3 reads the capitals that VN1 has beyond 0xA0 as VN1 does (no TCVN3
// text puts anything else there), but never writes them.
constexpr single_byte_charset make_tcvn3() {
    single_byte_charset c{};
    c.decode = ascii_and_undefined();
    for (int b = 0x80; b < 0xA0; ++b) c.decode[b] = cp1252_punctuation[b - 0x80];
    c.decode[0xA0] = 0x00A0;
    put_letters(c.decode, vn1_rows, [](int cls, int tone) { return in_tcvn3(cls, tone); });
    put_tone_bytes(c.decode);
    for (int cls = 1; cls <= CASE_DISTANCE; ++cls)
        for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone) {
            const unsigned char b = vn1_rows[cls][tone];
            if (b < 0xA0) continue;
            c.decode[b] = unicode_rows[cls][tone];
            c.read_only[b] = true;
        }
    return c;
}

inline constexpr single_byte_charset vn1_charset = make_vn1();
inline constexpr single_byte_charset tcvn3_charset = make_tcvn3();

namespace tcvn_check {

constexpr int count_undefined(const single_byte_charset &c) {
    int n = 0;
    for (char32_t cp : c.decode) n += cp == UNDEFINED_INPUT;
    return n;
}

constexpr int count_read_only(const single_byte_charset &c) {
    int n = 0;
    for (bool r : c.read_only) n += r;
    return n;
}

static_assert(rows_are_one_to_one(vn1_rows));
static_assert(count_letters(vn1_rows) == 134 + 14, "VN1 has every letter, and the ASCII ones");
static_assert(count_undefined(vn1_charset) == 0, "VN1 defines every byte");
// TCVN3: the 5 bytes Windows-1252 leaves undefined.
static_assert(count_undefined(tcvn3_charset) == 5);
// VN1's capitals with a tone beyond 0xA0: Ă, Â, Ê and Ô with every tone but
// the dot below.
static_assert(count_read_only(tcvn3_charset) == 16);
static_assert(vn1_charset.decode[0xB9] == 0x1EA1 && tcvn3_charset.decode[0xB9] == 0x1EA1, "ạ");
static_assert(vn1_charset.decode[0x84] == 0x1EA0 && tcvn3_charset.decode[0x84] == 0x201E, "Ạ in VN1, „ in TCVN3");

}  // namespace tcvn_check

}  // namespace viqr::detail
