#include "JobCommand.h"

#include "PackerContract.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace vintrix {

namespace {

constexpr std::string_view kPackerName = kPackerProgram;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool EndsCommand(char c)
{
    return c == '\n' || c == ';' || c == '&' || c == '|';
}

// Characters the shell would expand or redirect with, outside quotes.
bool ChangesWords(char c)
{
    return c == '$' || c == '`' || c == '*' || c == '?' || c == '[' || c == '<' || c == '>' || c == '(' || c == ')';
}

bool LooksLikeOption(std::string_view arg)
{
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

bool TakesSeparateValue(std::string_view option)
{
    return std::find(kOptionsWithValue.begin(), kOptionsWithValue.end(), option) != kOptionsWithValue.end();
}

}  // namespace

std::optional<std::vector<std::string>> ShellWords(std::string_view script)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    const auto endWord = [&] {
        if (inWord) {
            words.push_back(std::move(word));
            word.clear();
            inWord = false;
        }
    };
    for (std::size_t i = 0; i < script.size(); ++i) {
        const char c = script[i];
        if (IsBlank(c)) {
            endWord();
        } else if (EndsCommand(c)) {
            if (!words.empty() || inWord)
                break;
        } else if (c == '#' && !inWord) {
            i = std::min(script.find('\n', i), script.size()) - 1;
        } else if (ChangesWords(c) || (c == '~' && !inWord)) {
            return std::nullopt;
        } else if (c == '\\') {
            if (++i == script.size())
                return std::nullopt;
            if (script[i] != '\n') {
                word += script[i];
                inWord = true;
            }
        } else if (c == '\'') {
            const std::size_t end = script.find('\'', i + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            word.append(script.substr(i + 1, end - i - 1));
            inWord = true;
            i = end;
        } else if (c == '"') {
            for (++i;; ++i) {
                if (i == script.size() || script[i] == '$' || script[i] == '`')
                    return std::nullopt;
                if (script[i] == '"')
                    break;
                if (script[i] == '\\' && i + 1 < script.size() &&
                    std::string_view("$`\"\\\n").find(script[i + 1]) != std::string_view::npos) {
                    if (script[++i] == '\n')
                        continue;
                }
                word += script[i];
            }
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    endWord();
    return words;
}

std::optional<PackCommand> ReadPackCommand(std::string_view script)
{
    const auto words = ShellWords(script);
    if (!words || words->empty())
        return std::nullopt;
    const std::string& program = words->front();
    if (program != kPackerName && !program.ends_with("/" + std::string(kPackerName)))
        return std::nullopt;
    // As Vintrix splits them: NAME and FOLDER are taken whatever they look
    // like, and "--" ends the options.
    std::vector<std::string> positional;
    std::optional<std::string> output;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < words->size(); ++i) {
        const std::string& arg = (*words)[i];
        const bool verbatim = positional.size() == static_cast<std::size_t>(Argument::Name) ||
            positional.size() == static_cast<std::size_t>(Argument::Folder);
        if (optionsEnded || verbatim || !LooksLikeOption(arg)) {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (TakesSeparateValue(arg)) {
            if (++i == words->size())
                return std::nullopt;
            if (arg == "-o" || arg == "--output")
                output = (*words)[i];
        } else if (arg.starts_with("--output=")) {
            output = arg.substr(std::string_view("--output=").size());
        } else if (arg.starts_with("-o") && !arg.starts_with("--")) {
            output = arg.substr(2);
        }
    }
    const auto arg = [&positional](
                         Argument which) -> const std::string& { return positional[static_cast<std::size_t>(which)]; };
    long long code = -1;
    if (positional.size() != kArgumentCount || arg(Argument::Format).size() != 1 ||
        std::from_chars(arg(Argument::Format).data(), arg(Argument::Format).data() + 1, code).ec != std::errc{} ||
        !FormatFromCode(code))
        return std::nullopt;
    if (output) {
        const std::size_t end = output->find_last_not_of('/');
        output = end == std::string::npos ? std::string("/") : output->substr(0, end + 1);
    }
    return PackCommand{arg(Argument::Name), *FormatFromCode(code), arg(Argument::Folder), output.value_or("Output")};
}

std::optional<int> SheetCount(std::string_view summary)
{
    constexpr std::string_view kBefore = " into ";
    const std::size_t start = summary.find(kBefore);
    if (!summary.starts_with("packed ") || start == std::string_view::npos)
        return std::nullopt;
    int count = 0;
    const char* first = summary.data() + start + kBefore.size();
    const auto [end, error] = std::from_chars(first, summary.data() + summary.size(), count);
    if (error != std::errc{} || end == first || count < 1 ||
        !std::string_view(end, summary.data() + summary.size() - end).starts_with(" sheet"))
        return std::nullopt;
    return count;
}

std::optional<std::string> SummaryOutputFolder(std::string_view summary)
{
    constexpr std::string_view kBefore = " with atlas data ";
    summary = summary.substr(0, summary.find('\n'));
    const std::size_t at = summary.rfind(kBefore);
    if (!summary.starts_with("packed ") || at == std::string_view::npos)
        return std::nullopt;
    const std::string_view file = summary.substr(at + kBefore.size());
    const std::size_t slash = file.rfind('/');
    if (slash == std::string_view::npos)
        return std::string();
    return std::string(slash == 0 ? std::string_view("/") : file.substr(0, slash));
}

std::string SheetFileName(const PackCommand& command, int index)
{
    return command.name + (index == 0 ? std::string() : "-" + std::to_string(index + 1)) +
        std::string(SheetFormatOf(command.format).extension);
}

}  // namespace vintrix
