#pragma once
// A dependency file in Make's syntax, as compilers write with -MD: what a
// run wrote as targets, what it read as prerequisites. Make and Ninja read
// it to know when to run Vintrix again.

#include <string>
#include <vector>

namespace vintrix {

// "t1 t2: \\\n  p1 \\\n  p2\n", then an empty rule for each prerequisite
// ("\np1:\n"), each path escaped as Make and Ninja read it.
// Throws InputError for a path that cannot be written there (one with a
// line break in it).
std::string depfileText(const std::vector<std::string>& targets, const std::vector<std::string>& prerequisites);

}  // namespace vintrix
