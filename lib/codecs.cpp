// The registry: every encoding a converter reads or writes, with the makers
// of its decoder and encoder.  toneconv -l lists it in this order.
#include "codec.h"
#include "codec_cp1258.h"
#include "codec_mojibake.h"
#include "codec_tcvn.h"
#include "codec_unicode.h"
#include "codec_viqr.h"
#include "codec_viscii.h"
#include "codec_vni.h"
#include "codec_vps.h"
#include "single_byte_codecs.h"

namespace viqr::detail {

namespace {

template <class Codec>
std::unique_ptr<decoder> make_decoder(int) {
    return std::make_unique<Codec>();
}

template <class Codec>
std::unique_ptr<encoder> make_encoder(int) {
    return std::make_unique<Codec>();
}

template <const single_byte_charset &Charset>
std::unique_ptr<decoder> single_byte_reader(int) {
    return std::make_unique<single_byte_decoder<Charset>>();
}

template <const single_byte_charset &Charset>
std::unique_ptr<encoder> single_byte_writer(int) {
    return std::make_unique<single_byte_encoder<Charset>>();
}

// Null when no decoder context is free.
template <bool Typed>
std::unique_ptr<decoder> viqr_reader(int) {
    auto reader = std::make_unique<viqr_decoder>(Typed);
    if (!reader->opened()) return nullptr;
    return reader;
}

// Text shown through Windows-1252 and saved as UTF-8, then read as `Inner`.
template <std::unique_ptr<decoder> (*Inner)(int)>
std::unique_ptr<decoder> mojibake_reader(int flags) {
    return std::make_unique<mojibake_decoder>(Inner(flags));
}

std::unique_ptr<encoder> viqr_writer(int flags) {
    return std::make_unique<viqr_encoder>((flags & VIQR_CONVERT_ENGLISH_MODE) != 0 ? VIQR_MODE_ENGLISH
                                                                                  : VIQR_MODE_VIETNAMESE);
}

constexpr encoding_entry encodings[] = {
    {"utf-8", "utf8", "Unicode; written composed (NFC), read in any composition",
     make_decoder<utf8_decoder>, make_encoder<utf8_encoder>},
    {"utf-8-nfd", "utf8-nfd nfd", "Unicode with every Vietnamese letter decomposed (NFD), as macOS file names",
     make_decoder<utf8_decoder>, make_encoder<nfd_encoder>},
    {"ncr", "html", "ASCII with HTML numeric character references such as &#7879;",
     make_decoder<ncr_decoder>, make_encoder<ncr_encoder>},
    {"viqr", "vietnet", "VIQR 1.1, as tonedown -u writes it and toneup -u reads it",
     viqr_reader<false>, viqr_writer},
    {"viqr-typed", "", "VIQR as people type it, nothing escaped (read only, as toneup -t)",
     viqr_reader<true>, nullptr},
    {"viscii", "viscii-1.1 viscii1.1-1 csviscii", "VISCII 1.1, one byte a letter",
     single_byte_reader<viscii_charset>, single_byte_writer<viscii_charset>},
    {"viscii-1.0", "viscii1.0", "VISCII 1.0, which has Õ and ạ the other way round",
     single_byte_reader<viscii_1_0_charset>, single_byte_writer<viscii_1_0_charset>},
    {"tcvn3", "abc vn3 tcvn-vn3 tcvn5712-3", "TCVN 5712:1993 VN3, the ABC fonts (.VnTime): no capitals with a tone",
     single_byte_reader<tcvn3_charset>, single_byte_writer<tcvn3_charset>},
    {"vn1", "tcvn tcvn5712-1 tcvn5712-1:1993 tcvn-5712", "TCVN 5712:1993 VN1, every letter in one byte",
     single_byte_reader<vn1_charset>, single_byte_writer<vn1_charset>},
    {"vni", "vni-windows vni-win", "VNI-Windows (VNI-Times): a base letter and a mark byte",
     make_decoder<vni_decoder>, make_encoder<vni_encoder>},
    {"vps", "", "VPS, one byte a letter, capitals in control positions",
     single_byte_reader<vps_charset>, single_byte_writer<vps_charset>},
    {"cp1258", "windows-1258 win-1258", "Windows-1258: letters and combining tones",
     single_byte_reader<cp1258_charset>, single_byte_writer<cp1258_charset>},
    {"utf-8-as-cp1252", "", "UTF-8 shown as Windows-1252 and saved again as UTF-8 (read only, repaired)",
     mojibake_reader<make_decoder<utf8_decoder>>, nullptr},
    {"tcvn3-as-cp1252", "", "TCVN3 shown as Windows-1252 and saved as UTF-8 (read only, repaired)",
     mojibake_reader<single_byte_reader<tcvn3_charset>>, nullptr},
    {"vni-as-cp1252", "", "VNI shown as Windows-1252 and saved as UTF-8 (read only, repaired)",
     mojibake_reader<make_decoder<vni_decoder>>, nullptr},
};

}  // namespace

const encoding_entry *encoding_table() { return encodings; }
int encoding_table_size() { return static_cast<int>(std::size(encodings)); }

}  // namespace viqr::detail
