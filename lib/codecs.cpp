// The registry: every encoding a converter reads or writes, with the makers
// of its decoder and encoder.  toneconv -l lists it in this order.
#include "codec.h"
#include "codec_unicode.h"

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

constexpr encoding_entry encodings[] = {
    {"utf-8", "utf8", "Unicode, written composed (NFC); read in any composition",
     make_decoder<utf8_decoder>, make_encoder<utf8_encoder>},
    {"utf-8-nfd", "utf8-nfd nfd", "Unicode, Vietnamese letters written decomposed (NFD), as on a Mac",
     make_decoder<utf8_decoder>, make_encoder<nfd_encoder>},
    {"ncr", "html", "ASCII with HTML numeric character references (&#7879;)",
     make_decoder<ncr_decoder>, make_encoder<ncr_encoder>},
};

}  // namespace

const encoding_entry *encoding_table() { return encodings; }
int encoding_table_size() { return static_cast<int>(std::size(encodings)); }

}  // namespace viqr::detail
