// Splitting a text at a separator character: the session's ";"-separated file
// masks become lists this way.
#pragma once
#include "framework/Strings.h"
#include <string>

namespace krv {

// Reads the field that starts at pos (counted from 1), skipping separators in
// a row first; pos ends just past the field's closing separator. A call that
// starts on a run of separators ending the text gives an empty token.
void NextToken(const std::string& s, char sep, int& pos, std::string& token);

// Appends every field of s to list (the list is not cleared first).
void SplitString(const std::string& s, char sep, TStringList& list);
// Appends the masks of a ";"-separated mask text a person gave, each naming
// what its path names (EntryPath; a bare name has no folder to ask and is
// read as the system reads it: "s.txt " is s.txt).
void SplitMasks(const std::string& text, TStringList& list);

} // namespace krv
