// Base64 with the MIME alphabet: mail logins, the CRAM-MD5 challenge and
// attachment bodies.
#pragma once
#include <cstddef>
#include <string>

namespace krv {

// No line breaks; a last group of one byte ends with "==", of two with "=".
std::string Base64Encode(const std::string& data);
// Groups of four characters; "=" in third place ends the group after one
// byte, in fourth after two. Characters outside the alphabet are not rejected.
// A short last group gives the bytes its characters hold; nothing is read
// past the end of the input.
std::string Base64Decode(const std::string& text);
std::string Base64Decode(const char* text, size_t len);

} // namespace krv
