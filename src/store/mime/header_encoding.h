#pragma once
// Header fields as RFC 5322, RFC 2047 and RFC 2231 want them: 7-bit text, lines folded at 78
// characters where the value allows it, non-ASCII text in UTF-8 encoded words that each decode
// on their own (never a UTF-8 sequence split between two words or two parameter sections).
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::mime {

// "Name: value" folded into lines of at most 78 characters, ending in CRLF. Folds only at the
// spaces of `unfolded` (never inside a word), so unfolding gives the value back exactly.
std::string foldHeader(std::string_view name, std::string_view unfolded);

// Unstructured text (Subject): kept as it is when it is printable ASCII, otherwise a run of
// encoded words separated by spaces. `firstLineUsed` is how much of the first line the field
// name already takes, so the first word fits beside it.
std::string encodeUnstructured(std::string_view utf8, std::size_t firstLineUsed);

// UTF-8 text as B-encoded words separated by single spaces, each at most 75 characters and the
// first at most `firstRoom` characters long.
std::string encodedWords(std::string_view utf8, std::size_t firstRoom = 75);

// A display name as an RFC 5322 phrase: atoms as they are, other printable ASCII as a quoted
// string, anything else as encoded words.
std::string encodePhrase(std::string_view utf8);

struct Mailbox {
    std::string name;    // UTF-8 display name, may be empty
    std::string address; // addr-spec; empty makes the entry a named empty group
};

// The value of an address field (From, To, Cc, ...): mailboxes separated by ", ".
std::string encodeAddressList(const std::vector<Mailbox>& mailboxes);

// One parameter of Content-Type or Content-Disposition, as "; name=value" pieces separated by
// folding points: a quoted string when the value is short printable ASCII, otherwise RFC 2231
// extended sections. (Encoded words inside the quotes, which some older readers expect for a
// content type's "name", are a defect to strict parsers.)
std::string encodeParameter(std::string_view name, std::string_view utf8Value);

// True when every byte is printable ASCII (space to tilde).
bool isPrintableAscii(std::string_view s);

} // namespace parvelle::mime
