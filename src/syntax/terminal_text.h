// Text that this program does not write itself (a run's values, inputs, adapters' and the model service's
// replies, recordings, file names) as the terminal shows it: nothing in it reaches the terminal as a control
// character, so it can neither drive the terminal nor start a line of its own.
#pragma once

#include <string>
#include <string_view>

namespace dravelin::syntax {

enum class Backslashes : bool { Kept, Escaped };

// Appends `text` with C0 controls other than tab, DEL and the C1 controls U+0080 to U+009F written as JSON
// escapes (\b \f \n \r, the rest as \u00xx in lower-case hex), and every malformed UTF-8 sequence as U+FFFD.
// Backslashes are doubled only when asked for.
void append_for_terminal(std::string& out, std::string_view text, Backslashes backslashes);

// A text shown whole, as it is: a `log` message, a question and its options. Backslashes are escaped too, so
// that what is printed reads back as exactly one text: a text holding the six characters `\u001b` shows as
// `\\u001b`, never like an escape character would.
std::string terminal_text(std::string_view text);

// A line of this program's own words quoting outside text (a report, an error, a notice), or JSON text.
// Backslashes stay: JSON has escaped its own already, and in a sentence a backslash is one more character of a
// path or a quoted value that the reader needs to see unchanged.
std::string terminal_line(std::string_view text);

}  // namespace dravelin::syntax
