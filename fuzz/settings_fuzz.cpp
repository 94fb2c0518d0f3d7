// Arbitrary UTF-16 texts through the input rules and the command line.
// Checked on every input: the rules never produce a text they would rewrite
// again, and the composed line, split as the job's window reads the shell's
// words (any expansion, glob or redirection left unquoted gives none), hands
// the packer exactly the name and folder it was given.
#include "CommandLine.h"
#include "FieldRules.h"
#include "FileNames.h"
#include "JobCommand.h"
#include "fuzz_check.h"

#include <cmath>
#include <cstdint>

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
    const auto words = ShellWords(EncodeText(ComposeCommandLine(settings)));
    check(words && words->size() == (settings.imagesFolder.empty() ? 7u : 8u));
    check((*words)[3] == EncodeText(TrimBlanks(settings.fileName.text())));
    if (!settings.imagesFolder.empty())
        check((*words)[7] == EncodeText(TrimBlanks(settings.imagesFolder)));
    return 0;
}
