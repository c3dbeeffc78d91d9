#pragma once
// Standard Base64 (alphabet A-Z a-z 0-9 + /, "=" padding, no line breaks).
// Stateless; safe from any thread.

#include <string>

std::string Base64Encode(const std::string& bytes);

// Decodes text in its canonical form only: a multiple of four characters from the alphabet,
// "=" only as the last one or two, and zero bits where a final group ends early. False (out
// cleared) for anything else, so that a changed character never decodes to the same bytes.
bool Base64Decode(const std::string& text, std::string& out);
