// The warning both converters give about a composition character that makes
// VIQR text ambiguous.  It reads the letter assignment, so only the two
// converters link it (target viqr_cli_converters); tonefix does not.
#pragma once

namespace viqr::cli {

// Writes one line to standard error when `composition_char` makes VIQR text
// ambiguous, and nothing otherwise:
// "<program>: warning: composition character "<c>" is <what>, so <why>\n"
// <c> is the character itself when it is printable ASCII, otherwise a
// backslash and three octal digits (the form -com takes).  <what> is
//  - "a letter": A-Z, a-z (V, M and L are also the mode letters);
//  - "a VISCII letter": every other byte VISCII gives a letter, 0x80-0xFF and
//    the control positions 0x02 0x05 0x06 0x14 0x19 0x1E;
//  - "a digit": 0-9;
//  - "a VIQR mark": ( ^ + ' ` ? ~ .
//  - "white space": space, tab, newline, vertical tab, form feed, return;
//  - "a control character": any other byte below 0x20, and 0x7F; escape
//    (0x1B) excepted, a composition character chosen on purpose.
void warn_about_composition_char(const char *program, unsigned char composition_char);

// With -u the text is UTF-8, where a byte of 0x80 or more is part of a
// character and the six VISCII control letters are controls: a composition
// character among them could not be read back.  Says so on standard error
// and returns false for such a character:
// "<program>: composition character "<c>" cannot be used with -u: it is a VISCII letter, not ASCII text in UTF-8"
bool composition_char_suits_utf8(const char *program, unsigned char composition_char);

}  // namespace viqr::cli
