// The letter composer: builds one VISCII letter from its VIQR spelling, a
// base letter followed by at most one shape mark and then at most one tone
// mark, or a D followed by a second D.  One byte in, one byte out per step;
// two flags tell the caller whether the byte replaces the previous one and
// whether the letter may still take marks.
//
// The composer owns every rule of letter building: the single step
// (compose_char) and the run of Vietnamese text with every letter held back
// until it is complete (compose_held_run), which takes the same step through
// tables derived from the step's own.
// After any call the composer's fields describe the letter under way.
//
// The per-class constants are written out below as a table; composer.cpp
// checks at compile time that they are what the letter assignment in
// viscii_letters.h implies.
#pragma once

#include <array>

#include "viscii_letters.h"

namespace viqr::detail {

inline constexpr unsigned char COMPOSER_IDLE = 0;    // no letter under construction
inline constexpr unsigned char COMPOSER_BASE = 1;    // a letter taken; may take a shape, a tone or a second D
inline constexpr unsigned char COMPOSER_SHAPED = 2;  // a shape mark merged; may still take a tone

// What a byte brings when it follows a letter: a tone number in the low three
// bits, or one of the other marks.
inline constexpr unsigned char TONE_MASK = 0x07;
inline constexpr unsigned char MARK_BREVE = 0x08;
inline constexpr unsigned char MARK_CIRCUMFLEX = 0x10;
inline constexpr unsigned char MARK_HORN = 0x20;
inline constexpr unsigned char MARK_STROKE = 0x40;  // carried by D and d: a second D makes Đ / đ

// Letter classes: 0 no part of a letter, 1..28 letters (the letter rows),
// 29..33 the five tone marks in tone order, 34..36 breve, circumflex, horn.
inline constexpr int CLASS_NONE = 0;
inline constexpr int FIRST_TONE_CLASS = LETTER_CLASS_COUNT;                  // 29, acute
inline constexpr int FIRST_SHAPE_CLASS = FIRST_TONE_CLASS + TONE_COUNT - 1;  // 34, breve
inline constexpr int SHAPE_MARK_COUNT = 3;
inline constexpr int CLASS_COUNT = FIRST_SHAPE_CLASS + SHAPE_MARK_COUNT;     // 37
inline constexpr int MARK_COUNT = SHAPE_MARK_COUNT + TONE_COUNT - 1;         // 8

constexpr bool is_letter_class(unsigned char k) { return k != CLASS_NONE && k < LETTER_CLASS_COUNT; }
constexpr bool is_tone_class(unsigned char k) { return k >= FIRST_TONE_CLASS && k < FIRST_SHAPE_CLASS; }
constexpr bool is_shape_class(unsigned char k) { return k >= FIRST_SHAPE_CLASS && k < CLASS_COUNT; }

// The shape marks in class order, with what each brings.
inline constexpr char shape_mark_char[SHAPE_MARK_COUNT] = {BREVE_CHAR, CIRCUMFLEX_CHAR, HORN_CHAR};
inline constexpr unsigned char shape_mark_bit[SHAPE_MARK_COUNT] = {MARK_BREVE, MARK_CIRCUMFLEX, MARK_HORN};

// What each letter class does.  A letter of class L accepts a byte of class M
// when accept & bits of M is not zero; merging it adds the shift of M to L.
// 0x07 in `accept` admits every tone.
struct class_constants {
    unsigned char accept;  // marks the letter accepts (looked up only for letters)
    unsigned char bits;    // what a byte of this class brings after a letter
    unsigned char shift;   // how far merging it moves the letter's class
};

inline constexpr class_constants class_constants_table[CLASS_COUNT] = {
    //            accept  bits  shift
    /*  0 none */ {0x00, 0x00, 0},
    /*  1 D    */ {0x40, 0x40, 4},  // a second D or d: D+4 is Đ
    /*  2 A    */ {0x1F, 0x00, 0},  // tones, breve, circumflex
    /*  3 Ă    */ {0x07, 0x00, 0},
    /*  4 Â    */ {0x07, 0x00, 0},
    /*  5 Đ    */ {0x00, 0x00, 0},  // reached only by merging; takes nothing
    /*  6 E    */ {0x17, 0x00, 0},  // tones, circumflex
    /*  7 I    */ {0x07, 0x00, 0},
    /*  8 Ê    */ {0x07, 0x00, 0},
    /*  9 O    */ {0x37, 0x00, 0},  // tones, circumflex, horn
    /* 10 U    */ {0x27, 0x00, 0},  // tones, horn
    /* 11 Ô    */ {0x07, 0x00, 0},
    /* 12 Ơ    */ {0x07, 0x00, 0},
    /* 13 Ư    */ {0x07, 0x00, 0},
    /* 14 Y    */ {0x07, 0x00, 0},
    /* 15 d    */ {0x40, 0x40, 4},
    /* 16 a    */ {0x1F, 0x00, 0},
    /* 17 ă    */ {0x07, 0x00, 0},
    /* 18 â    */ {0x07, 0x00, 0},
    /* 19 đ    */ {0x00, 0x00, 0},
    /* 20 e    */ {0x17, 0x00, 0},
    /* 21 i    */ {0x07, 0x00, 0},
    /* 22 ê    */ {0x07, 0x00, 0},
    /* 23 o    */ {0x37, 0x00, 0},
    /* 24 u    */ {0x27, 0x00, 0},
    /* 25 ô    */ {0x07, 0x00, 0},
    /* 26 ơ    */ {0x07, 0x00, 0},
    /* 27 ư    */ {0x07, 0x00, 0},
    /* 28 y    */ {0x07, 0x00, 0},
    /* 29 '  acute     */ {0x00, 0x01, 0},
    /* 30 `  grave     */ {0x00, 0x02, 0},
    /* 31 ?  hook      */ {0x00, 0x03, 0},
    /* 32 ~  tilde     */ {0x00, 0x04, 0},
    /* 33 .  dot below */ {0x00, 0x05, 0},
    /* 34 (  breve      */ {0x07, 0x08, 1},  // accept: the shaped letters it leads to take every tone
    /* 35 ^  circumflex */ {0x07, 0x10, 2},
    /* 36 +  horn       */ {0x07, 0x20, 3},
};

using class_row = std::array<unsigned char, CLASS_COUNT>;

template <unsigned char class_constants::*field>
constexpr class_row column_of_class_constants() {
    class_row column{};
    for (int cls = 0; cls < CLASS_COUNT; ++cls) column[cls] = class_constants_table[cls].*field;
    return column;
}

inline constexpr class_row accept_mask = column_of_class_constants<&class_constants::accept>();
inline constexpr class_row mark_bits = column_of_class_constants<&class_constants::bits>();
inline constexpr class_row class_shift = column_of_class_constants<&class_constants::shift>();

// The VISCII code of each letter class under each tone, as the letter rows give it.
inline constexpr auto viscii_letter = [] {
    std::array<std::array<unsigned char, TONE_COUNT>, LETTER_CLASS_COUNT> table{};
    for (int cls = 0; cls < LETTER_CLASS_COUNT; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone) table[cls][tone] = letter_rows[cls].code[tone];
    return table;
}();

// The byte of every row that can start a letter (all but Đ and đ, which are
// reached only by merging), and the eight mark characters.
inline constexpr std::array<unsigned char, 256> default_classes = [] {
    std::array<unsigned char, 256> classes{};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (!(row_is_d(letter_rows[cls]) && letter_rows[cls].spelling[1] != '\0'))
            classes[letter_rows[cls].code[TONE_NONE]] = static_cast<unsigned char>(cls);
    for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone)
        classes[static_cast<unsigned char>(tone_mark_char[tone])] =
            static_cast<unsigned char>(FIRST_TONE_CLASS + tone - 1);
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s)
        classes[static_cast<unsigned char>(shape_mark_char[s])] = static_cast<unsigned char>(FIRST_SHAPE_CLASS + s);
    return classes;
}();

struct implementation;

// The per-context record: the state and class of the letter under way, which
// carry from one step to the next, and the kernels its runs use.
struct composer {
    unsigned char state;
    unsigned char letter_class;
    const implementation *kernels;
};

// Which class each byte has: the letters that start one, and the marks.
inline constexpr const std::array<unsigned char, 256> &class_table = default_classes;

// Puts the composer in COMPOSER_IDLE, with the implementation the process
// uses for its runs.
void composer_reset(composer &c);

namespace composer_steps {

inline unsigned char start_letter(composer &c, unsigned char ch, unsigned char k, int &pending, int &combined) {
    c.letter_class = k;
    const bool letter = is_letter_class(k);
    c.state = letter ? COMPOSER_BASE : COMPOSER_IDLE;
    pending = letter;
    combined = 0;
    return ch;
}

// A letter under way takes ch when it accepts what ch brings.  A letter with a
// shape mark accepts exactly the five tones (every shaped letter takes every
// tone), so one test serves COMPOSER_BASE and COMPOSER_SHAPED alike.
inline unsigned char merge_into_letter(composer &c, unsigned char ch, unsigned char k, int &pending,
                                       int &combined) {
    if ((accept_mask[c.letter_class] & mark_bits[k]) == 0) return start_letter(c, ch, k, pending, combined);
    c.letter_class = static_cast<unsigned char>(c.letter_class + class_shift[k]);
    const bool shape = is_shape_class(k);
    c.state = shape ? COMPOSER_SHAPED : COMPOSER_IDLE;
    pending = shape;
    combined = 1;
    return viscii_letter[c.letter_class][mark_bits[k] & TONE_MASK];
}

}  // namespace composer_steps

// One step.  Returns either ch itself (`combined` 0; any letter under way is
// finished) or the letter of the previous step with ch merged into it
// (`combined` 1).  `pending` is 1 when the composer is not idle afterwards.
// Inline because it lies on the decoder's per-byte path.
inline unsigned char compose_char(composer &c, unsigned char ch, int &pending, int &combined) {
    const unsigned char k = class_table[ch];
    if (c.state == COMPOSER_IDLE) return composer_steps::start_letter(c, ch, k, pending, combined);
    return composer_steps::merge_into_letter(c, ch, k, pending, combined);
}

// Where a run stops: at `byte` (the composition character).  With
// `letter_breaks` set the run may instead go on past a `byte` that is followed
// by a byte other than those in `ends`: such a pair is a letter break.  The
// `byte` writes nothing, the letter under way is finished, and the byte after
// it starts afresh, merging into nothing before it, as the decoder reads the
// byte after an escape.  A run takes a letter break where that is quick and
// stops at the `byte` otherwise, so the caller must handle both.
struct run_stop {
    unsigned char byte;
    bool letter_breaks;
    std::array<unsigned char, 8> ends;  // fill unused places with `byte` itself
};

// Composes the bytes from `in` up to `end` or up to a stop (see run_stop),
// whichever comes first, holding each letter back until it is complete.
// `held` is the letter under way (0 for none) on entry and on return; every
// finished letter and every byte that is no part of a letter is written at
// `out`, which is advanced.  Returns where it stopped.
//
// It gives what compose_char gives byte by byte with the writing rule of a
// decoder that holds letters (a byte that merges replaces the held letter,
// which a tone or a second D finishes; a byte that does not merge writes the
// held letter first), using the same tables and the same merge test.  The
// composer's fields are settled at the end by stepping the current letter's
// bytes (at most two, or the whole run when the letter began before it)
// again.
const unsigned char *compose_held_run(composer &c, const unsigned char *in, const unsigned char *end,
                                      const run_stop &stop, unsigned char &held, unsigned char *&out);

}  // namespace viqr::detail
