#include "depfile.h"

#include "error.h"
#include "utf8.h"

namespace vintrix {
namespace {

// A blank, "#" or ":" takes a backslash, and the backslashes right before
// one are doubled, so that they stay backslashes; "$" is written "$$".
std::string escaped(const std::string& path)
{
    if (path.find_first_of("\n\r") != std::string::npos)
        throw InputError(quoted(path) + " has a line break in its name, which a depfile cannot hold: rename it");
    std::string out;
    std::size_t backslashes = 0;
    for (char c : path) {
        if (c == ' ' || c == '\t' || c == '#' || c == ':')
            out.append(backslashes + 1, '\\');
        else if (c == '$')
            out += '$';
        backslashes = c == '\\' ? backslashes + 1 : 0;
        out += c;
    }
    return out;
}

}  // namespace

std::string depfileText(const std::vector<std::string>& targets, const std::vector<std::string>& prerequisites)
{
    std::string text;
    for (const std::string& target : targets)
        text += (text.empty() ? "" : " ") + escaped(target);
    text += ':';
    for (const std::string& prerequisite : prerequisites)
        text += " \\\n  " + escaped(prerequisite);
    text += '\n';
    // A rule of its own for each, as -MP writes, so that Make takes one that
    // was removed for one to make, and runs Vintrix again.
    for (const std::string& prerequisite : prerequisites)
        text += '\n' + escaped(prerequisite) + ":\n";
    return text;
}

}  // namespace vintrix
