// Windows-1258: Windows-1252 with the Vietnamese letters it lacks put in
// place of some Latin-1 ones, and five combining tones.  The letters of the
// inventory that Latin-1 holds keep their bytes; every other letter is
// written as the letter without its tone followed by a combining tone, as
// Windows writes it, and reading composes any mix.
#pragma once

#include "codec_cp1252.h"
#include "codec_single_byte.h"

namespace viqr::detail {

// What Windows-1258 puts in place of Latin-1.
struct cp1258_change {
    unsigned char byte;
    char32_t cp;
};
inline constexpr cp1258_change cp1258_changes[] = {
    {0xC3, 0x0102}, {0xD0, 0x0110}, {0xD5, 0x01A0}, {0xDD, 0x01AF},  // Ă Đ Ơ Ư
    {0xE3, 0x0103}, {0xF0, 0x0111}, {0xF5, 0x01A1}, {0xFD, 0x01B0},  // ă đ ơ ư
    {0xEC, 0x0301}, {0xCC, 0x0300}, {0xD2, 0x0309}, {0xDE, 0x0303}, {0xF2, 0x0323},  // the tones
    {0xFE, 0x20AB},                                                                  // ₫
};

constexpr single_byte_charset make_cp1258() {
    single_byte_charset c{};
    c.decode = ascii_and_undefined();
    for (int b = 0x80; b < 0xA0; ++b)
        c.decode[b] = undefined_in_cp1258(b) ? UNDEFINED_INPUT : cp1252_punctuation[b - 0x80];
    for (int b = 0xA0; b < 0x100; ++b) c.decode[b] = static_cast<char32_t>(b);
    for (const cp1258_change &change : cp1258_changes) c.decode[change.byte] = change.cp;
    c.combining_tones = true;
    return c;
}

inline constexpr single_byte_charset cp1258_charset = make_cp1258();

namespace cp1258_check {

// Every letter of the inventory is written: as one byte, or as its letter
// without a tone (one byte) and a combining tone.
constexpr bool writes_every_letter() {
    const reverse_charset reverse = make_reverse(cp1258_charset);
    bool ok = true;
    for_each_letter([&](int cls, int tone, unsigned char) {
        if (reverse.byte_of(unicode_rows[cls][tone]) >= 0) return;
        ok = ok && tone != TONE_NONE && reverse.byte_of(unicode_rows[cls][TONE_NONE]) >= 0 &&
             reverse.byte_of(combining_tone(tone)) >= 0;
    });
    return ok;
}

// The tones are the five combining tones of the inventory.
constexpr bool tones_are_the_inventorys() {
    int found = 0;
    for (char32_t cp : cp1258_charset.decode)
        for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone) found += cp == combining_tone(tone);
    return found == TONE_COUNT - 1;
}

static_assert(writes_every_letter());
static_assert(tones_are_the_inventorys());
static_assert(cp1258_charset.decode[0xC1] == 0x00C1 && cp1258_charset.decode[0xC3] == 0x0102, "Á stays; Ã is Ă");

}  // namespace cp1258_check

}  // namespace viqr::detail
