// What the page asks the module for beside the library's functions: what it
// cannot know from JavaScript, the output room the header's macro gives and
// where the loss report's fields lie.
#include <cstddef>

#include "viqr.h"

#define WEB_API extern "C" __attribute__((visibility("default")))

WEB_API size_t web_convert_room(size_t length) { return VIQR_CONVERT_OUTPUT_SIZE(length); }

WEB_API size_t web_loss_report_size(void) { return sizeof(viqr_loss_report); }

// The byte offset of each field of viqr_loss_report, in the order the page
// reads them.
WEB_API void web_loss_report_fields(size_t *offsets) {
    const size_t fields[] = {
        offsetof(viqr_loss_report, unwritable),        offsetof(viqr_loss_report, unwritable_first),
        offsetof(viqr_loss_report, unwritable_line),   offsetof(viqr_loss_report, unwritable_column),
        offsetof(viqr_loss_report, substitutes),       offsetof(viqr_loss_report, undefined),
        offsetof(viqr_loss_report, undefined_offset),  offsetof(viqr_loss_report, undefined_byte),
        offsetof(viqr_loss_report, undefined_substitute),
    };
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) offsets[i] = fields[i];
}
