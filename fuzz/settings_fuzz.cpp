// Arbitrary UTF-16 texts through the input rules and the command line.
// Checked on every input: the rules never produce a text they would rewrite
// again, and the composed line, read by the shell's quoting rules, hands the
// packer exactly the name and folder it was given.
#include "CommandLine.h"
#include "fuzz_check.h"
#include "FieldRules.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

// What a POSIX shell reads outside quotes: the characters that must be quoted
// to stand for themselves, those that start a glob, a comment or a home
// folder, and the control characters.
bool ShellReads(char16_t c)
{
    return c < 0x20 || c == 0x7f ||
        std::u16string_view(u"|&;<>()$`\\\"' *?[]#~{}!").find(c) != std::u16string_view::npos;
}

// Splits a line the way a POSIX shell does for the only forms the composer
// may write: words of characters the shell does not read, blanks between
// words, single quotes and the escaped quote between them. Anything else
// outside quotes would be shell syntax, so it fails the check.
std::optional<std::vector<std::u16string>> ShellWords(std::u16string_view line)
{
    std::vector<std::u16string> words;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char16_t c = line[i];
        if (c != u' ' && !inWord)
            words.emplace_back();
        inWord = c != u' ';
        if (c == u'\'') {
            const std::size_t close = line.find(u'\'', i + 1);
            if (close == std::u16string_view::npos)
                return std::nullopt;
            words.back().append(line.substr(i + 1, close - i - 1));
            i = close;
        } else if (line.substr(i, 2) == u"\\'") {
            words.back() += u'\'';
            ++i;
        } else if (inWord && ShellReads(c)) {
            return std::nullopt;
        } else if (inWord) {
            words.back() += c;
        }
    }
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vintrix;
    using fuzz::check;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    const std::size_t split = text.find(u'\0');
    const std::u16string name = text.substr(0, split);
    const std::u16string folder = split == std::u16string::npos ? u"" : text.substr(split + 1);

    check(!std::isnan(LeadingNumber(text)));
    if (const auto bounded = UpperBound(text))
        check(!UpperBound(*bounded));
    check(EmptyRefill(text, u"256").has_value() == text.empty());

    PackSettings settings;
    TakeName(settings, name);
    check(settings.fileName.text().size() == FixedName::kLength);
    if (!folder.empty())
        settings.imagesFolder = u"/" + folder + u"/";
    const auto words = ShellWords(ComposeCommandLine(settings));
    check(words.has_value());
    check(words->size() == (settings.imagesFolder.empty() ? 7u : 8u));
    check((*words)[3] == TrimBlanks(settings.fileName.text()));
    if (!settings.imagesFolder.empty())
        check((*words)[7] == TrimBlanks(settings.imagesFolder));
    return 0;
}
