#include "frontend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "credits.h"

namespace viqr::cli {

const char *program_name(int argc, char **argv, const char *fallback) {
    return argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : fallback;
}

void usage(const usage_text &text) {
    for (std::size_t i = 0; i < text.count; ++i) std::fputs(text.lines[i], stderr);
    std::fputs(VIQR_TOOLS_AUTHOR_LINE, stderr);
    std::fputs(VIQR_TOOLS_MAKER_LINE, stderr);
    std::exit(1);
}

namespace {

const flag *find_flag(const flag_table &flags, char letter) {
    if (letter == '\0') return nullptr;
    for (std::size_t i = 0; i < flags.count; ++i)
        if (std::strchr(flags.flags[i].letters, letter) != nullptr) return &flags.flags[i];
    return nullptr;
}

}  // namespace

int read_flags(int argc, char **argv, const char *program, const flag_table &flags, const usage_text &text) {
    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        const flag *f = find_flag(flags, argv[index][1]);
        if (f == nullptr) {
            std::fprintf(stderr, "%s: unknown option \"%s\"\n", program, argv[index]);
            usage(text);
        }
        if (f->refusal != nullptr) {
            std::fprintf(stderr, "%s: %s\n", program, f->refusal);
            usage(text);
        }
        *f->target = f->value;
    }
    return index;
}

}  // namespace viqr::cli
