/* What the page cannot know from JavaScript: the sizes of the library's state
 * records, which it allocates in the module's memory, and the output room the
 * header's macros give for a chunk. */
#include "viqr.h"

#include <stddef.h>

#define WEB_API __attribute__((visibility("default")))

WEB_API size_t web_from_utf8_state_size(void) { return sizeof(viqr_from_utf8_state); }
WEB_API size_t web_to_utf8_state_size(void) { return sizeof(viqr_to_utf8_state); }
WEB_API size_t web_from_utf8_room(size_t length) { return VIQR_FROM_UTF8_OUTPUT_SIZE(length); }
WEB_API size_t web_to_utf8_room(size_t length) { return VIQR_TO_UTF8_OUTPUT_SIZE(length); }
WEB_API size_t web_from_utf8_scan_offset(void) { return offsetof(viqr_from_utf8_state, scan); }
WEB_API size_t web_to_utf8_scan_offset(void) { return offsetof(viqr_to_utf8_state, scan); }
WEB_API size_t web_report_size(void) { return sizeof(viqr_utf8_report); }
WEB_API size_t web_report_offset_offset(void) { return offsetof(viqr_utf8_report, offset); }
