// VISCII 1.1, the project's own letter assignment (viscii_letters.h), and
// VISCII 1.0, which had the letters of 0xA0 and 0xD5 the other way round.
#pragma once

#include "codec_single_byte.h"

namespace viqr::detail {

constexpr single_byte_charset make_viscii(bool revision_1_0) {
    single_byte_charset c{};
    c.decode = code_point_of_viscii;
    if (revision_1_0) {
        c.decode[0xA0] = code_point_of_viscii[0xD5];
        c.decode[0xD5] = code_point_of_viscii[0xA0];
    }
    return c;
}

inline constexpr single_byte_charset viscii_charset = make_viscii(false);
inline constexpr single_byte_charset viscii_1_0_charset = make_viscii(true);

static_assert(viscii_charset.decode[0xA0] == 0x00D5 && viscii_1_0_charset.decode[0xA0] == 0x1EA1,
              "1.1: 0xA0 is Õ; 1.0: ạ");

}  // namespace viqr::detail
