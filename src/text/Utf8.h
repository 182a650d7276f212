#pragma once
// Terminal output may hold any byte; text for JSON must be valid UTF-8. These carry output
// losslessly: readable text with the invalid bytes replaced, and the exact bytes in base64
// when the two differ.
#include <string>

namespace kor {

// Whether bytes are well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool isValidUtf8(const std::string& bytes);
// bytes with each maximal ill-formed subsequence replaced by U+FFFD (the way decoders
// commonly do it); valid UTF-8 comes back unchanged.
std::string replaceInvalidUtf8(const std::string& bytes);
// Where to cut bytes to keep at most limit of them without splitting a UTF-8 sequence: limit,
// or up to three bytes less when a sequence would be cut.
size_t utf8CutPoint(const std::string& bytes, size_t limit);
// Standard base64 with padding.
std::string encodeBase64(const std::string& bytes);

}  // namespace kor
