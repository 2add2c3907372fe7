// Texts that come from devices or the system, made safe to show or to store: on a terminal
// or in a CSV cell, and as UTF-8 for JSON; and names compared without case. Pure functions;
// any thread.
#pragma once

#include <string>
#include <string_view>

namespace zb {

// The text with every byte outside printable ASCII (0x20..0x7E) written as \xHH, line
// breaks included, so that nothing a device or the system hands us can drive a terminal;
// a backslash is written as \\, so that a name holding the four characters \xfc does not
// read as the byte 0xFC. Apply it once, where the text is shown or stored: a text made
// printable already would get its backslashes doubled again.
std::string Printable(std::string_view text);

// The text as valid UTF-8: every valid UTF-8 sequence stays as it is (control characters
// included), a backslash becomes \\, and every other byte becomes the four characters
// \xHH, lower-case hex, as Printable writes them ("\xfc" for a Latin-1 'u' with umlaut).
// What JSON output carries.
std::string Utf8Text(std::string_view text);
// Whether the text is valid UTF-8 throughout (control characters included), as Utf8Text
// would keep every byte of it.
bool IsUtf8(std::string_view text);
// Whether the text is valid UTF-8 without control characters (C0, DEL, C1): what every
// report form and terminal takes as it is.
bool IsPrintableUtf8(std::string_view text);

// A text the program made itself (a device path, a port's identity, a run's ID and tags, a
// command, a station, a file name), as the reports store it: as it is when IsPrintableUtf8,
// Printable otherwise. Texts read from a device are stored Printable whatever they hold, so
// that their escapes cannot be told from bytes a device sent.
std::string StoredText(std::string_view text);

// The value of a hexadecimal digit, either case; -1 for any other character.
int HexDigitValue(char c);

// Whether the texts are equal, ASCII letters compared without case.
bool SameIgnoringCase(std::string_view a, std::string_view b);
// Whether `text` ends in `end`, ASCII letters compared without case (".JSON", ".Db").
bool EndsIgnoringCase(std::string_view text, std::string_view end);

}  // namespace zb
