#include "app/SplitString.h"
#include "framework/SysUtils.h"

namespace krv {

void NextToken(const std::string& s, char sep, int& pos, std::string& token) {
    token.clear();
    const int len = static_cast<int>(s.size());
    while (pos <= len && s[pos - 1] == sep) ++pos;
    if (pos > len) return;
    int end = pos;
    while (end <= len && s[end - 1] != sep) ++end;
    token = s.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(end - pos));
    pos = end + 1;
}

void SplitString(const std::string& s, char sep, TStringList& list) {
    int pos = 1;
    std::string token;
    while (pos <= static_cast<int>(s.size())) {
        NextToken(s, sep, pos, token);
        list.Add(token);
    }
}

void SplitMasks(const std::string& text, TStringList& list) {
    TStringList masks;
    SplitString(text, ';', masks);
    for (int i = 0; i < masks.Count(); ++i) list.Add(EntryPath(masks[i]));
}

} // namespace krv
