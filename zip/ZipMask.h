// Wildcard masks: '*' (any run) and '?' (one character), matched without
// regard to case. No escape character and no character sets.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace krv {

class TMask {
public:
    explicit TMask(const std::string& mask);   // raises Exception past the '*' limit
    bool Matches(const std::string& fileName) const;

    static constexpr int MaxSkips = 30;

private:
    enum class Kind : uint8_t { Literal, Any, DoubleByte };
    struct State {
        bool skipTo;
        Kind kind;
        unsigned char c1, c2;   // literal: c1 (upper-cased); double byte: lead c1, trail c2
    };
    bool MatchesAt(const State& s, const std::string& name, size_t pos) const;
    std::vector<State> states_;
};

bool MatchesMask(const std::string& fileName, const std::string& mask);

} // namespace krv
