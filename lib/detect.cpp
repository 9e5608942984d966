// Detection: the text read under every candidate encoding of
// detect_evidence.h, each reading weighed, the verdict drawn by the rules
// there.  The text is read in stages of growing length, and reading stops
// as soon as one reading leads clearly.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "codec.h"
#include "detect_evidence.h"
#include "viqr.h"

using namespace viqr::detail;

namespace {

// How far each stage reads; the last reads the whole text.
constexpr std::size_t stage_ends[] = {4096, 32768, 262144};

// Pure ASCII is read as VIQR only this far: a VIQR text shows its marks
// early.
constexpr std::size_t ASCII_LOOK = 65536;

int lookup(const char *name) { return viqr_encoding_lookup(name); }

// One candidate's reading of the text so far.
struct reading {
    int encoding = -1;
    double prior = 0;
    std::unique_ptr<decoder> decode;
    input_tracker input;
    evidence_reader reader;
    evidence counts;  // as if the text ended where the reading stands
    double weight = 0;
    int confidence = 0;

    void read(const unsigned char *in, std::size_t n, char32_t *decoded) {
        for (std::size_t done = 0; done < n;) {
            const std::size_t piece = std::min(PIECE, n - done);
            take(decoded, decode->decode(in + done, piece, decoded, input));
            input.offset += piece;
            done += piece;
        }
    }

    void take(const char32_t *cps, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) reader.take(cps[i]);
    }

    // Weighs the reading as it stands.  What the decoder keeps back at the
    // end (a UTF-8 sequence cut short, outer or inner) is left out: the
    // buffer is often only the start of the text, cut anywhere.
    void weigh(bool at_end) {
        if (at_end) {
            counts = reader.finish();
        } else {
            evidence_reader snapshot = reader;
            counts = snapshot.finish();
        }
        weight = score(counts) + prior;
        confidence = vietnamese_confidence(counts);
    }

    static int vietnamese_confidence(const evidence &e) {
        return static_cast<int>(100ull * e.syllables / (e.syllables + nonsense(e) + 1ull));
    }

    bool reads_vietnamese() const {
        return counts.syllables >= MIN_SYLLABLES && confidence >= MIN_CONFIDENCE && weight > 0;
    }
    bool sound() const { return clean() && nonsense(counts) == 0; }
    bool clean() const { return counts.undefined == 0 && counts.controls == 0; }
};

bool same_text(const reading &a, const reading &b) { return std::memcmp(&a.counts, &b.counts, sizeof a.counts) == 0; }

// The end of a stage, moved back to just after a space or line end so that
// no word is judged cut in two; the whole text when the stage reaches it.
std::size_t stage_end(const unsigned char *text, std::size_t length, std::size_t from, std::size_t want) {
    if (want >= length) return length;
    std::size_t end = want;
    while (end > from && text[end - 1] != ' ' && text[end - 1] != '\n') --end;
    return end > from ? end : want;
}

bool seven_bit_text(const unsigned char *text, std::size_t length) {
    return std::none_of(text, text + length, [](unsigned char b) { return b >= 0x80; });
}

// Whether `text` holds a numeric character reference: "&#" and a digit, or
// "&#x".
bool holds_references(const unsigned char *text, std::size_t length) {
    for (std::size_t i = 0; i + 2 < length; ++i) {
        if (text[i] != '&' || text[i + 1] != '#') continue;
        const unsigned char c = text[i + 2];
        if ((c >= '0' && c <= '9') || c == 'x' || c == 'X') return true;
    }
    return false;
}

// tonedown announces the mode of what it writes in its first two bytes (the
// composition character and V or M).
bool announces_its_mode(const unsigned char *text, std::size_t length) {
    return length >= 2 && text[0] == VIQR_DEFAULT_COMPOSITION_CHAR &&
           (text[1] == 'V' || text[1] == 'v' || text[1] == 'M' || text[1] == 'm');
}

class detection {
public:
    detection(const unsigned char *text, std::size_t length) : text_(text), length_(length), decoded_(DECODE_ROOM) {}

    std::vector<viqr_detection> run() {
        ascii_ = seven_bit_text(text_, length_);
        open_readings();
        std::size_t done = ascii_ ? 0 : read_shared_start();
        for (std::size_t stage = 0;; ++stage) {
            const std::size_t want = stage < std::size(stage_ends) ? stage_ends[stage] : length_;
            const std::size_t limit = ascii_ ? std::min(length_, ASCII_LOOK) : length_;
            if (want <= done && done < limit) continue;
            const std::size_t end = stage_end(text_, limit, done, std::min(want, limit));
            for (reading &r : readings_) {
                r.read(text_ + done, end - done, decoded_.data());
                r.weigh(end == limit);
            }
            done = end;
            rank();
            if (done == limit || decisive()) break;
        }
        return ascii_ ? ascii_verdict() : verdict();
    }

private:
    // Every reading but VIQR's takes printable ASCII, tabs and line ends for
    // themselves, and ASCII words are the same evidence in all: the plain
    // ASCII the text begins with (up to its last line end) is read once, for
    // all of them.  Returns where the readings go on.
    std::size_t read_shared_start() {
        std::size_t end = 0;
        while (end < length_ && shared_byte(text_[end])) ++end;
        if (end < length_)
            while (end > 0 && text_[end - 1] != '\n') --end;
        evidence_reader shared;
        for (std::size_t i = 0; i < end; ++i) shared.take(text_[i]);
        for (reading &r : readings_) r.reader = shared;
        return end;
    }

    static bool shared_byte(unsigned char b) { return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r'; }

    void open_readings() {
        if (ascii_) {
            open_reading(SEVEN_BIT_CANDIDATE, PRIOR_COMMON);
            if (holds_references(text_, std::min(length_, ASCII_LOOK))) open_reading(REFERENCES_CANDIDATE, PRIOR_COMMON);
            return;
        }
        for (const candidate_rule &rule : candidate_table) open_reading(rule.name, rule.prior);
    }

    void open_reading(const char *name, double prior) {
        reading r;
        r.encoding = lookup(name);
        if (r.encoding < 0) return;
        r.prior = prior;
        r.decode = encoding_table()[r.encoding].make_decoder(0);
        if (r.decode) readings_.push_back(std::move(r));  // no VIQR context free: no VIQR reading
    }

    void rank() {
        order_.clear();
        for (std::size_t i = 0; i < readings_.size(); ++i) order_.push_back(&readings_[i]);
        std::stable_sort(order_.begin(), order_.end(),
                         [](const reading *a, const reading *b) { return a->weight > b->weight; });
    }

    // The best reading beside `best` that gives a different text.
    const reading *runner_up(const reading *best) const {
        for (const reading *r : order_)
            if (r != best && !same_text(*r, *best)) return r;
        return nullptr;
    }

    bool decisive() const {
        const reading *best = order_.front();
        if (nonsense(best->counts) >= DECISIVE_NONSENSE && best->confidence < DECISIVE_NO_FIT_CONFIDENCE) return true;
        if (!best->reads_vietnamese() || best->counts.syllables < DECISIVE_SYLLABLES) return false;
        const reading *next = runner_up(best);
        return next == nullptr || best->weight - next->weight >= DECISIVE_LEAD;
    }

    const reading *find(int encoding) const {
        for (const reading &r : readings_)
            if (r.encoding == encoding) return &r;
        return nullptr;
    }
    const reading *utf8_reading() const { return find(lookup("utf-8")); }

    std::vector<viqr_detection> verdict() const {
        const reading *utf8 = utf8_reading();
        // Valid UTF-8 that reads well is never repaired.
        if (utf8 != nullptr && utf8->clean() && utf8->reads_vietnamese()) return with_others(utf8_name(*utf8), utf8);
        const reading *best = order_.front();
        if (best->reads_vietnamese())
            return with_others({best == utf8 ? utf8_name(*utf8).encoding : best->encoding, best->confidence}, best);
        // UTF-8 read as Windows-1252 twice over is valid UTF-8 both ways, but
        // only the repair reads without a fault (Â and a no-break space).
        const reading *repair = find(lookup("utf-8-as-cp1252"));
        if (utf8 != nullptr && repair != nullptr && repair->sound() && repair->counts.beyond_ascii > 0 &&
            nonsense(utf8->counts) > 0)
            return with_others({repair->encoding, valid_share(repair->counts)}, repair);
        if (utf8 != nullptr && utf8->clean() && utf8->counts.beyond_ascii >= UTF8_MIN_CHARACTERS) {
            return with_others({utf8_name(*utf8).encoding, valid_share(utf8->counts)}, utf8);
        }
        return with_others({words(best->counts) < THIN_WORDS ? VIQR_DETECT_TOO_LITTLE : VIQR_DETECT_UNKNOWN, 0},
                           nullptr);
    }

    // The confidence in a clean reading that is not Vietnamese: n / (n + 1)
    // for its n characters beyond ASCII.
    static int valid_share(const evidence &e) {
        return static_cast<int>(100ull * e.beyond_ascii / (e.beyond_ascii + 1ull));
    }

    // utf-8-nfd when more letters come with combining marks than composed.
    static viqr_detection utf8_name(const reading &r) {
        const bool decomposed = r.counts.combining > r.counts.precomposed;
        return {lookup(decomposed ? "utf-8-nfd" : "utf-8"), r.confidence};
    }

    // Seven-bit text: the best of VIQR and, when it holds references, NCR, if
    // it reads as Vietnamese; otherwise plain ASCII, told by the VIQR reading
    // (which reads every ASCII word the same).
    std::vector<viqr_detection> ascii_verdict() const {
        const reading *best = order_.empty() ? nullptr : order_.front();
        if (best != nullptr && best->reads_vietnamese()) return with_others({best->encoding, best->confidence}, best);
        const reading *viqr = find(lookup(SEVEN_BIT_CANDIDATE));
        if (viqr != nullptr && announced_viqr(*viqr)) return with_others({viqr->encoding, viqr->confidence}, viqr);
        const evidence seen = viqr != nullptr ? viqr->counts : evidence{};
        const unsigned plain = seen.ascii_words;
        if (viqr == nullptr || seen.controls > 0) return with_others({VIQR_DETECT_UNKNOWN, 0}, nullptr);
        if (plain < ASCII_MIN_WORDS) return with_others({VIQR_DETECT_TOO_LITTLE, 0}, nullptr);
        const int confidence = static_cast<int>(100ull * plain / (plain + seen.syllables + 1ull));
        return with_others({VIQR_DETECT_ASCII, confidence}, nullptr);
    }

    // tonedown's announcement at the very start and one syllable that reads
    // as Vietnamese are evidence enough: a short note written by tonedown
    // ("\MRead Truy\e^.n Ki\e^`u.") has too few syllables for the
    // general rule.  An announcement alone is not: "\Vert" or "\Videos"
    // may open a text by chance, and with no letter to convert, reading it
    // as plain ASCII loses nothing.
    bool announced_viqr(const reading &viqr) const {
        return announces_its_mode(text_, length_) && viqr.counts.syllables >= 1 && viqr.weight > 0;
    }

    // The verdict, then every reading but `chosen` that gives a text of its
    // own.
    std::vector<viqr_detection> with_others(viqr_detection first, const reading *chosen) const {
        std::vector<viqr_detection> out{first};
        std::vector<const reading *> listed;
        if (chosen != nullptr) listed.push_back(chosen);
        for (const reading *r : order_) {
            const bool repeated =
                std::any_of(listed.begin(), listed.end(), [&](const reading *l) { return same_text(*l, *r); });
            if (repeated) continue;
            listed.push_back(r);
            out.push_back({r->encoding, r->confidence});
        }
        return out;
    }

    const unsigned char *text_;
    std::size_t length_;
    bool ascii_ = false;
    std::vector<char32_t> decoded_;
    std::vector<reading> readings_;
    std::vector<const reading *> order_;
};

// VIQR without the announcement was typed by a person, or by a tool that
// escapes nothing, and only the typed reader reads it as meant: "nhie^`u."
// is "nhiều." there, "nhiềụ" strictly.
void name_typed_viqr(const unsigned char *text, std::size_t length, std::vector<viqr_detection> &found) {
    if (announces_its_mode(text, length)) return;
    const int strict = viqr_encoding_lookup("viqr"), typed = viqr_encoding_lookup("viqr-typed");
    for (viqr_detection &d : found)
        if (d.encoding == strict) d.encoding = typed;
}

}  // namespace

int viqr_detect(const unsigned char *text, std::size_t length, viqr_detection *ranked, int room) {
    if (ranked == nullptr || room < 1 || (text == nullptr && length > 0)) return 0;
    try {
        std::vector<viqr_detection> found = detection(text, length).run();
        name_typed_viqr(text, length, found);
        const int n = std::min(room, static_cast<int>(found.size()));
        std::copy_n(found.begin(), n, ranked);
        return n;
    } catch (const std::bad_alloc &) {
        ranked[0] = {VIQR_DETECT_UNKNOWN, 0};
        return 1;
    }
}

viqr_converter *viqr_converter_open_auto(const unsigned char *text, std::size_t length, int to, int flags,
                                         viqr_detection *verdict) {
    viqr_detection found{VIQR_DETECT_UNKNOWN, 0};
    viqr_detect(text, length, &found, 1);
    if (verdict != nullptr) *verdict = found;
    if (found.encoding == VIQR_DETECT_UNKNOWN || found.encoding == VIQR_DETECT_TOO_LITTLE) {
        errno = EILSEQ;
        return nullptr;
    }
    const int from = found.encoding == VIQR_DETECT_ASCII ? viqr_encoding_lookup("utf-8") : found.encoding;
    return viqr_converter_open(from, to, flags);
}
