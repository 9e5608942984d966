/* viqr_filter (C): converts standard input to standard output through the
 * viqr library's C interface.
 *   viqr_filter_c down   VISCII to VIQR in Vietnamese mode, as tonedown does
 *   viqr_filter_c up     VIQR to VISCII, as toneup does
 * Build: cc viqr_filter.c $(pkg-config --cflags --libs viqr) */
#include <stdio.h>
#include <string.h>

#include <viqr.h>

#define CHUNK 4096

static int write_out(const unsigned char *bytes, size_t length) {
    return fwrite(bytes, 1, length, stdout) == length;
}

static int down(void) {
    static unsigned char in[CHUNK], out[VIQR_ENCODER_OUTPUT_SIZE(CHUNK)];
    const unsigned char composition = VIQR_DEFAULT_COMPOSITION_CHAR;
    viqr_encoder_history history = {0};
    size_t n;
    /* A reader learns the mode from the first two bytes. */
    const unsigned char announce[2] = {composition, 'V'};
    if (!write_out(announce, 2)) return 1;
    while ((n = fread(in, 1, CHUNK, stdin)) > 0) {
        const size_t m = viqr_viscii_to_viqr(in, n, out, composition, VIQR_MODE_VIETNAMESE, &history);
        if (!write_out(out, m)) return 1;
    }
    return ferror(stdin) ? 1 : 0;
}

static int up(void) {
    static unsigned char in[CHUNK], out[VIQR_DECODER_OUTPUT_SIZE(CHUNK)];
    int count = 0;
    size_t n;
    const int handle = viqr_open(VIQR_MODE_VIETNAMESE, VIQR_DEFAULT_COMPOSITION_CHAR, VIQR_DEFAULT_OVERSTRIKE_CHAR);
    if (handle < 0) return 1;
    /* Hold letters back until their marks have arrived: no overstrikes. */
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    while ((n = fread(in, 1, CHUNK, stdin)) > 0)
        if (!write_out(out, viqr_feed_chunk(handle, in, n, out))) return 1;
    viqr_close(handle, out, &count);
    if (!write_out(out, (size_t)count)) return 1;
    return ferror(stdin) ? 1 : 0;
}

int main(int argc, char **argv) {
    int status;
    if (argc == 2 && strcmp(argv[1], "down") == 0)
        status = down();
    else if (argc == 2 && strcmp(argv[1], "up") == 0)
        status = up();
    else {
        fputs("usage: viqr_filter_c down|up < input > output\n", stderr);
        return 2;
    }
    return fflush(stdout) == 0 && status == 0 ? 0 : 1;
}
