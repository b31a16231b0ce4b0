// File names compared ignoring letter case: two inputs that a file system which ignores case would
// take for one file are refused on every system, not only there.
#pragma once

#include <cstdint>
#include <string_view>

// The code point's simple case folding (statuses C and S of Unicode's CaseFolding.txt).
std::uint32_t foldCase(std::uint32_t code);

// Orders file names so that two names equal but for letter case sit side by side: a name in valid
// UTF-8 compares by its code points after Unicode's simple case folding, any other name by its
// bytes, and every name in valid UTF-8 comes before every other. Returns -1, 0 or 1; 0 exactly when
// the names are the same but for letter case.
int compareFoldedNames(std::string_view a, std::string_view b);
