#!/usr/bin/env bash
# Mutation audit: makes small, realistic faults one at a time in a scratch copy
# of the tree and runs the test suite after each.  A fault that no test
# catches "survives"; the script lists the survivors and exits with status 1
# when there is any (2 when a fault no longer applies or no longer builds,
# which means this list needs updating after a change of the code).
#
#   tools/mutants.sh              every fault
#   tools/mutants.sh NAME...      only these (see the list below)
#   tools/mutants.sh --list       the names and what each fault does
#
# The copy is the working tree as it stands (uncommitted changes included),
# built once in Release as the README does; each fault then rebuilds what it
# touches and runs the README's test command (ctest with -j2), stopping at the
# first failing test.  BUILD_JOBS sets the build's -j (2 by default).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${BUILD_JOBS:-2}

# Each fault: a name, the file it changes, a sed script that makes the change
# (single-quoted: what stands there is what sed gets) and what the fault does.
names=() files=() scripts=() faults=()
mutant() { names+=("$1") files+=("$2") scripts+=("$3") faults+=("$4"); }

mutant short-write cli/fileio.cpp 's/^        p += n;$/        return true;/' \
  "a write that writes part of the buffer ends the loop as if all were written"
mutant write-advance cli/fileio.cpp '/^        p += n;$/d' \
  "after a short write the loop writes the buffer from its start again"
mutant read-eintr cli/fileio.cpp 's/} while (n < 0 && errno == EINTR);/} while (false);/' \
  "a read interrupted by a signal is a failed read"
mutant write-eintr cli/fileio.cpp '/if (n < 0 && errno == EINTR) continue;/d' \
  "a write interrupted by a signal is a failed write"
mutant input-close cli/input_loop.cpp '/^    close(fd);$/d' \
  "the programs never close an input file"
mutant octal-plus lib/options.cpp "s/if (\*p == '+' || \*p == '-')/if (*p == '-')/" \
  "a + sign before octal digits is not taken"
mutant octal-blanks lib/options.cpp "s/return c == ' ' || (c >= '\\\\t' && c <= '\\\\r');/return c == ' ';/" \
  "only the space is skipped before octal digits"
mutant open-hold lib/decoder.cpp '/^        c.hold = 0;$/d' \
  "viqr_open keeps the hold setting of the context's previous user"
mutant set-forces-mode lib/decoder.cpp 's/^        drop_letter(\*c);$/        drop_letter(*c);\n        c->state = value;/' \
  "viqr_set puts the context in the mode asked for, whatever mode letter the flush's composition characters select"
mutant same-file-inode tonefix/main.cpp \
  's/return in.st_dev == out.st_dev && in.st_ino == out.st_ino;/return in.st_ino == out.st_ino;/' \
  "tonefix takes two files with the same inode number on two file systems for one"
mutant typed-k lib/syllables.h 's/{"k", before_vowel::front_only}/{"k", before_vowel::any}/' \
  "toneup -t takes k before a, o and u"
mutant typed-final lib/syllables.h \
  's/if (closed ? r.final == takes_final::never : r.final == takes_final::always) return false;/if (closed \&\& r.final == takes_final::never) return false;/' \
  "toneup -t takes a nucleus that needs a final consonant without one (câ)"
mutant typed-loose-k lib/syllables.h 's/if (by_the_rules \&\& initial_row >= 0/if (false \&\& initial_row >= 0/' \
  "toneup -t takes kác for a slip of typing"
mutant typed-loose-tone lib/syllables.h '/if (tone_at >= 0 \&\& !tone_place_allowed(r, closed, tone_at - begin)) return false;/d' \
  "toneup -t takes qủa and ngươì for slips of typing"
mutant typed-end lib/typed_reader.cpp 's/return settle_all(r, NEXT_END, out); }/return settle_all(r, NEXT_UNKNOWN, out); }/' \
  "toneup -t reads the end of a text without a line end as an unknown boundary"
mutant typed-dd-dot lib/typed_reader.cpp 's/if (rest == 0) return a.in_token/if (rest == 0) return false \&\& a.in_token/' \
  "toneup -t no longer reads DD. as Đ."
mutant typed-switch lib/typed_reader.cpp 's/return r.at_text_start \&\& r.token_length == 2/return r.token_length == 2/' \
  "toneup -t takes \\V after white space or a cut token for a mode switch"
mutant typed-dash lib/typed_reader.cpp '/^std::size_t typed_break/,/^}/{/r.previous_length = 0;/d}' \
  "toneup -u -t looks up compounds across a character beyond ASCII"
mutant typed-escape lib/typed_reader.cpp '/^std::size_t typed_break/,/^}/{/r.escape_pending = false;/d}' \
  "toneup -u -t leaves an escape pending in the reader that the engine took before a character beyond ASCII"
mutant typed-cache-all lib/typed_reader.cpp 's/if (cache \&\& !r.looked_around) cache_decision/if (cache) cache_decision/' \
  "toneup -t caches decisions that weighed what follows the token"
mutant typed-cache-quotes lib/typed_reader.cpp 's/ || e.quotes_before != quotes//' \
  "toneup -t uses a decision cached outside a quotation inside one"

if [ "${1:-}" = "--list" ]; then
  for i in "${!names[@]}"; do printf '%-16s %s: %s\n' "${names[$i]}" "${files[$i]}" "${faults[$i]}"; done
  exit 0
fi

selected=()
for i in "${!names[@]}"; do
  if [ $# -eq 0 ]; then selected+=("$i"); continue; fi
  for wanted in "$@"; do [ "$wanted" = "${names[$i]}" ] && selected+=("$i"); done
done
[ ${#selected[@]} -gt 0 ] || { echo "no fault named $*; see --list" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/viqr-mutants-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/src"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
   tar --null --ignore-failed-read -T - -cf -) | tar -C "$scratch/src" -xf -

echo "== building the unchanged copy in $scratch"
# WERROR off: a fault may leave code that a compiler warns about.
cmake -S "$scratch/src" -B "$scratch/build" -DWERROR=OFF >"$scratch/configure.log" 2>&1 ||
  { cat "$scratch/configure.log"; exit 2; }
cmake --build "$scratch/build" -j"$jobs" >"$scratch/build.log" 2>&1 || { tail -n 40 "$scratch/build.log"; exit 2; }

run_suite() {
  ctest --test-dir "$scratch/build" --output-on-failure -j2 --no-tests=error --stop-on-failure --timeout 300 \
    >"$1" 2>&1
}

echo "== the unchanged copy must pass"
run_suite "$scratch/clean.log" || { tail -n 40 "$scratch/clean.log"; echo "the suite fails without any fault" >&2; exit 2; }

survivors=()
broken=()
for i in "${selected[@]}"; do
  name=${names[$i]} file=${files[$i]} script=${scripts[$i]} what=${faults[$i]}
  target="$scratch/src/$file"
  cp "$target" "$scratch/original"
  sed -i -e "$script" "$target"
  if cmp -s "$target" "$scratch/original"; then
    echo "$name: DOES NOT APPLY (the code it changes is gone)"
    broken+=("$name")
    continue
  fi
  if ! cmake --build "$scratch/build" -j"$jobs" >"$scratch/$name.build.log" 2>&1; then
    echo "$name: DOES NOT BUILD (see the build log)"
    tail -n 20 "$scratch/$name.build.log"
    broken+=("$name")
  elif run_suite "$scratch/$name.log"; then
    echo "$name: SURVIVES - $what"
    survivors+=("$name")
  else
    caught_by=$(grep -E '^[[:space:]]+[0-9]+ - ' "$scratch/$name.log" | head -n 1 |
                sed -E 's/^[[:space:]]+[0-9]+ - //; s/  # GetParam.*//; s/ \([A-Za-z ]+\)$//')
    echo "$name: caught by ${caught_by:-a failing test} - $what"
  fi
  cp "$scratch/original" "$target"
done
# Leave the copy as it was built, for the next fault's incremental build.

echo "== ${#selected[@]} faults: ${#survivors[@]} survive, ${#broken[@]} no longer apply or build"
[ ${#survivors[@]} -eq 0 ] || echo "surviving: ${survivors[*]}"
[ ${#broken[@]} -eq 0 ] || { echo "to update: ${broken[*]}"; exit 2; }
[ ${#survivors[@]} -eq 0 ]
