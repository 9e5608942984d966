#include "utf8.h"

void viqr_utf8_begin_input(viqr_utf8_scan *scan_pointer, const char *name) {
    if (scan_pointer == nullptr) return;
    viqr_utf8_scan &scan = *scan_pointer;
    // A sequence from this input that goes on into the next one keeps this
    // input's report state, should it turn out invalid.
    if (scan.have != 0 && scan.sequence_serial == scan.serial) scan.sequence_input_reported = scan.reported;
    ++scan.serial;
    scan.input = name;
    scan.offset = 0;
    scan.reported = false;
}

int viqr_utf8_take_report(viqr_utf8_scan *scan_pointer, viqr_utf8_report *report) {
    if (scan_pointer == nullptr || scan_pointer->report_count <= 0) return 0;
    viqr_utf8_scan &scan = *scan_pointer;
    // Without a place to store it the report is taken all the same: a caller
    // may drop the reports it has no use for.
    if (report != nullptr) *report = scan.reports[0];
    scan.reports[0] = scan.reports[1];
    --scan.report_count;
    return 1;
}

int viqr_looks_like_utf8(const unsigned char *text, std::size_t length) {
    if (text == nullptr) return 0;
    bool multibyte = false;
    std::size_t i = 0;
    while (i < length) {
        const unsigned char lead = text[i];
        const unsigned need = viqr::detail::sequence_length[lead];
        if (need == 0) return false;
        std::size_t have = 1;
        while (have < need && i + have < length && viqr::detail::continues(lead, static_cast<int>(have), text[i + have])) ++have;
        if (have < need && i + have < length) return false;
        multibyte = multibyte || (need > 1 && have == need);
        i += have;
    }
    return multibyte;
}

