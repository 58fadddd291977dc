// Shared pieces of the mail tests.
#pragma once
#include <string>
#include <vector>

namespace krvtest {

// The CR LF lines of a message as received (a last line without CR LF too).
inline std::vector<std::string> MailLines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0, eol;
    while ((eol = text.find("\r\n", pos)) != std::string::npos) {
        out.push_back(text.substr(pos, eol - pos));
        pos = eol + 2;
    }
    if (pos < text.size()) out.push_back(text.substr(pos));
    return out;
}

} // namespace krvtest
