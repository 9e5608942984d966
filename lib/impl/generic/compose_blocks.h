// The composer's run a block at a time, for the implementations whose blocks
// are masks of bits (16 or 32 bytes).  Text between merging bytes is copied a
// block at a time; each merging byte of a block is looked at alone.
//
// Included inside an implementation's namespace after it has defined
// VIQR_KERNEL (its target attribute), BLOCK, and for a block at `p`:
//   std::uint64_t bytes_equal(const unsigned char *p, unsigned char value);
//   std::uint64_t merging_bytes_of(const unsigned char *p);
//   void copy_block(unsigned char *to, const unsigned char *from);
// No include guard: each implementation has its own copy.

VIQR_KERNEL progress compose_run(const unsigned char *in, const unsigned char *end, unsigned char *o,
                                 const unsigned char *o_limit, const run_stop &run_end) {
    const unsigned char stop = run_end.byte;
    // Within blocks, the byte before a merging byte is the input byte before
    // it, unless that was a merging byte too: then it is what that one left.
    // This keeps the look-ups of a block independent of each other.
    unsigned char last_left = o[-1];
    std::uint64_t before_merges = merging_index[in[-1]] != 0;  // bit 0: the byte before the block may merge

    // A block needs a block more of readable bytes past any of its bytes.
    while (end - in >= 2 * BLOCK && o < o_limit) {
        const std::uint64_t stops = bytes_equal(in, stop);
        const std::uint64_t merging = merging_bytes_of(in) & ~stops;
        const std::uint64_t neighbours = (merging << 1) | before_merges;
        const int upto = stops == 0 ? static_cast<int>(BLOCK) : std::countr_zero(stops);
        copy_block(o, in);
        std::ptrdiff_t removed = 0;
        for (std::uint64_t mask = merging & ((std::uint64_t{1} << upto) - 1); mask != 0; mask &= mask - 1) {
            const std::ptrdiff_t j = std::countr_zero(mask);
            const unsigned char b = in[j];
            // A branch, not a choice: the choice would chain every look-up to
            // the one before, while neighbouring merging bytes are the rarer
            // case.  The empty asm keeps the compilers from turning the branch
            // into a conditional move, which they otherwise do.
            unsigned char before = in[j - 1];
            if ((neighbours >> j) & 1) [[unlikely]] {
                before = last_left;
                __asm__("" : "+r"(before));
            }
            const unsigned char merged = merged_after[before][merging_index[b]];
            last_left = b;
            if (merged != 0) {
                unsigned char *const at = o + (j - removed);  // where b was copied
                at[-1] = merged;
                copy_block(at, in + j + 1);
                ++removed;
                last_left = merged;
            }
        }
        o += upto - removed;
        in += upto;
        if (stops != 0) break;
        before_merges = merging >> (BLOCK - 1);
    }
    return {in, o};
}
