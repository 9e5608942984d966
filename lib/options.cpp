// The option pre-parser: takes "-com" and "-bs" and their values out of an
// argument vector, wherever they stand, before a front end reads its flags.
#include <cstdio>
#include <cstring>

#include "byte_classes.h"
#include "viqr.h"

namespace {

bool is_octal_digit(char c) { return c >= '0' && c <= '7'; }

// Reads "\<octal>" the way the pattern "\%o" does (leading white space, an
// optional sign, digits up to the first other character), keeping only the low
// eight bits as it goes so that no length of digits can overflow.  Returns
// false, leaving `target` alone, when no digit follows.
bool read_octal_value(const char *text, unsigned char &target) {
    const char *p = text + 1;  // past the backslash
    while (viqr::detail::is_space(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (!is_octal_digit(*p)) return false;
    unsigned value = 0;
    for (; is_octal_digit(*p); ++p) value = ((value << 3) | unsigned(*p - '0')) & 0xFFu;
    target = static_cast<unsigned char>(negative ? (0u - value) & 0xFFu : value);
    return true;
}

void set_from_value(const char *value, unsigned char &target) {
    if (value[0] == '\\')
        read_octal_value(value, target);
    else
        target = static_cast<unsigned char>(value[0]);  // the empty string gives 0
}

void report_missing_value(const char *option) {
    std::fprintf(stderr, "usage: %s [char|\\octal]\n", option);
}

}  // namespace

void viqr_parse_options(int *argc, char **argv, unsigned char *composition_char,
                        unsigned char *overstrike_char) {
    if (argc == nullptr || argv == nullptr || *argc < 2) return;

    // Where the caller passed no character for an option, its value still
    // goes with it and lands here.
    unsigned char dropped_value = 0;
    const int count = *argc;
    for (int i = 1; i < count;) {
        unsigned char *target = nullptr;
        if (std::strcmp(argv[i], "-com") == 0)
            target = composition_char != nullptr ? composition_char : &dropped_value;
        else if (std::strcmp(argv[i], "-bs") == 0)
            target = overstrike_char != nullptr ? overstrike_char : &dropped_value;
        if (target == nullptr) {
            ++i;
            continue;
        }
        const char *option = argv[i];
        argv[i] = nullptr;
        const char *value = argv[i + 1];  // argv[count] is the terminating null
        if (value == nullptr) {
            report_missing_value(option);
            ++i;
            continue;
        }
        set_from_value(value, *target);
        argv[i + 1] = nullptr;
        i += 2;  // a value is never itself taken as an option
    }

    int kept = 0;
    for (int i = 0; i < count; ++i)
        if (argv[i] != nullptr) argv[kept++] = argv[i];
    argv[kept] = nullptr;
    *argc = kept;
}
