// The one gate for text from outside. Every value that comes in (the command
// line's values, the KELVOPROG_* variables, a plan's cells and column names)
// passes AdmitText before it is used, and is refused with the same words
// wherever it came from. Text on its way out to the console passes
// ConsoleSafe (console.h) instead.
#pragma once

#include <cstddef>
#include <string>

namespace kelvo {

// No bound of the gate's own: the caller checks the length with its own words.
constexpr size_t kAnyLength = static_cast<size_t>(-1);

enum class TextVerdict {
    Admitted,
    ControlCharacter,  // a byte below 0x20 (NUL, TAB, CR and LF among them) or 0x7F
    TooLong,           // more than maxLength bytes
};

// Checks text and, when it is refused, sets refusal to the sentence that
// says why, naming the text by subject as the user knows it ("/ip value",
// "KELVOPROG_PASSWORD value", "column name"):
//   "The SUBJECT contains a control character."
//   "The SUBJECT is longer than MAX characters."
// A control character is the first fault looked for.
TextVerdict AdmitText(const std::string& subject, const std::string& text, std::string& refusal,
                      size_t maxLength = kAnyLength);

}  // namespace kelvo
