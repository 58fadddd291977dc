#include "zip/ZipMask.h"
#include "zip/ZipErrors.h"
#include <windows.h>

namespace krv {

namespace {

unsigned char UpperChar(unsigned char c) {
    char buf[2] = {static_cast<char>(c), 0};
    ::CharUpperBuffA(buf, 1);
    return static_cast<unsigned char>(buf[0]);
}

} // namespace

TMask::TMask(const std::string& mask) {
    bool pending = false;
    int skips = 0;
    auto add = [&](State s, size_t pos) {
        s.skipTo = pending;
        if (pending && ++skips > MaxSkips)
            throw Exception(Format(ZipPrompt::InvalidMask, mask.c_str(), static_cast<int>(pos + 1)));
        pending = false;
        states_.push_back(s);
    };
    for (size_t i = 0; i < mask.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(mask[i]);
        if (c == '*') {
            pending = true;
        } else if (c == '?') {
            if (!pending) add({false, Kind::Any, 0, 0}, i);   // "*?" behaves as "*"
        } else if (::IsDBCSLeadByte(c) && i + 1 < mask.size()) {
            add({false, Kind::DoubleByte, c, static_cast<unsigned char>(mask[i + 1])}, i);
            ++i;
        } else {
            add({false, Kind::Literal, UpperChar(c), 0}, i);
        }
    }
    add({false, Kind::Literal, 0, 0}, mask.size());   // the match must end at the name's end
}

bool TMask::MatchesAt(const State& s, const std::string& name, size_t pos) const {
    switch (s.kind) {
    case Kind::Literal:
        if (s.c1 == 0) return pos == name.size();
        return pos < name.size() && UpperChar(static_cast<unsigned char>(name[pos])) == s.c1;
    case Kind::Any:
        return pos < name.size();
    case Kind::DoubleByte:
        return pos + 1 < name.size() && static_cast<unsigned char>(name[pos]) == s.c1 &&
               static_cast<unsigned char>(name[pos + 1]) == s.c2;
    }
    return false;
}

bool TMask::Matches(const std::string& name) const {
    struct Backtrack { size_t pos; size_t state; };
    std::vector<Backtrack> stack;
    stack.reserve(MaxSkips);
    size_t pos = 0, si = 0;
    for (;;) {
        bool failed = false;
        while (si < states_.size()) {
            const State& s = states_[si];
            if (s.skipTo) {
                while (pos <= name.size() && !MatchesAt(s, name, pos)) ++pos;
                if (pos > name.size()) { failed = true; break; }
                if (pos < name.size()) stack.push_back({pos, si});
            }
            if (!MatchesAt(s, name, pos)) { failed = true; break; }
            pos += s.kind == Kind::DoubleByte ? 2 : (s.c1 == 0 && s.kind == Kind::Literal ? 0 : 1);
            ++si;
        }
        if (!failed) return true;
        if (stack.empty()) return false;
        pos = stack.back().pos + 1;
        si = stack.back().state;
        stack.pop_back();
    }
}

bool MatchesMask(const std::string& fileName, const std::string& mask) {
    return TMask(mask).Matches(fileName);
}

} // namespace krv
