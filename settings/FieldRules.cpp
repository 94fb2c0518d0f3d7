#include "FieldRules.h"

#include "PackSettings.h"

namespace vintrix {

bool NumericKeyPasses(char16_t code)
{
    return code == kBackspace || (code >= u'0' && code <= u'9');
}

bool NameKeyPasses(std::u16string_view currentText, char16_t code)
{
    return code == kBackspace || currentText.size() <= kNameLengthLimit;
}

std::optional<std::u16string> UpperBound(std::u16string_view text)
{
    if (LeadingNumber(text) > kSizeCeiling)
        return NumberText(static_cast<std::int64_t>(kSizeCeiling));
    return std::nullopt;
}

std::optional<std::u16string> EmptyRefill(std::u16string_view text, std::u16string_view defaultText)
{
    if (text.empty())
        return std::u16string(defaultText);
    return std::nullopt;
}

}  // namespace vintrix
