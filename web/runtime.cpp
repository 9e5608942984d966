// What the page needs beside the library in WebAssembly.
//
// The module links no C++ run-time library, to stay small: the allocation
// operators the library's converters use are here, over malloc.  When memory
// runs out the module stops with a trap, which the page shows as an error;
// there is no exception to throw.
//
// The page also asks for what it cannot know from JavaScript: the output room
// the header's macro gives, and where the loss report's fields lie.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "viqr.h"

#define WEB_API extern "C" __attribute__((visibility("default")))

void *operator new(std::size_t size) {
    if (void *memory = std::malloc(size ? size : 1)) return memory;
    std::abort();
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size ? size : 1); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }

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
