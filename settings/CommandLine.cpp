#include "CommandLine.h"

#include <algorithm>
#include <iterator>

namespace vintrix {
namespace {

// Characters the shell gives no meaning to. Units outside ASCII are ordinary
// word characters to a POSIX shell and pass as they are.
bool IsPlain(char16_t c)
{
    if (c >= 0x80)
        return true;
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
        std::u16string_view(u"_-./,+:@%").find(c) != std::u16string_view::npos;
}

std::u16string Decimal(std::int64_t number)
{
    return std::u16string(TrimBlanks(NumberText(number)));
}

}  // namespace

std::u16string ShellWord(std::u16string_view word)
{
    if (!word.empty() && std::all_of(word.begin(), word.end(), IsPlain))
        return std::u16string(word);
    std::u16string quoted = u"'";
    for (const char16_t c : word)
        if (c == u'\'')
            quoted += u"'\\''";
        else
            quoted += c;
    quoted += u'\'';
    return quoted;
}

std::u16string ComposeCommandLine(const PackSettings& settings)
{
    std::u16string line(std::begin(kPackerProgram), std::end(kPackerProgram) - 1);
    line += u' ';
    for (const std::u16string& part : {
             Decimal(settings.width),
             Decimal(settings.height),
             ShellWord(TrimBlanks(settings.fileName.text())),
             Decimal(settings.bitsPerPixel),
             Decimal(settings.outputFormat),
             Decimal(settings.margin),
         }) {
        line += part;
        line += u' ';
    }
    const std::u16string_view folder = TrimBlanks(settings.imagesFolder);
    if (!folder.empty())
        line += ShellWord(folder);
    return line;
}

}  // namespace vintrix
