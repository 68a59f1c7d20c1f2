// The gate for text from outside: control characters and lengths.
#include "app/text_gate.h"

namespace kelvo {

TextVerdict AdmitText(const std::string& subject, const std::string& text, std::string& refusal,
                      size_t maxLength) {
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            refusal = "The " + subject + " contains a control character.";
            return TextVerdict::ControlCharacter;
        }
    }
    if (text.size() > maxLength) {
        refusal = "The " + subject + " is longer than " + std::to_string(maxLength) + " characters.";
        return TextVerdict::TooLong;
    }
    return TextVerdict::Admitted;
}

}  // namespace kelvo
