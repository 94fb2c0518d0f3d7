#include "PackSettings.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace vintrix {

void FixedName::assign(std::u16string_view text)
{
    text_.assign(text.substr(0, kLength));
    text_.resize(kLength, u' ');
}

namespace {

bool IsSkipped(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}
bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Collects the characters of a number in the forms that std::from_chars reads,
// tracking its decimal magnitude so that a value beyond a double's range can be
// told apart as overflow or underflow.
class NumberScanner {
public:
    explicit NumberScanner(std::u16string_view text) : text_(text) {}

    double Read()
    {
        if (Peek() == u'+' || Peek() == u'-')
            negative_ = Take() == u'-';
        const bool hasMantissa = ReadMantissa();
        if (!hasMantissa)
            return 0.0;
        ReadExponent();
        return Convert();
    }

private:
    char16_t Peek()
    {
        while (pos_ < text_.size() && IsSkipped(text_[pos_]))
            ++pos_;
        return pos_ < text_.size() ? text_[pos_] : u'\0';
    }

    char16_t Take() { return text_[pos_++]; }

    bool ReadMantissa()
    {
        bool anyDigit = false;
        bool seenPoint = false;
        for (char16_t c = Peek(); IsDigit(c) || (c == u'.' && !seenPoint); c = Peek()) {
            Take();
            if (c == u'.') {
                seenPoint = true;
                digits_ += '.';
                continue;
            }
            anyDigit = true;
            if (c != u'0' && !seenNonZero_) {
                seenNonZero_ = true;
                // Decimal exponent of the first significant digit.
                magnitude_ = seenPoint ? -static_cast<long long>(fractionDigits_) - 1 : 0;
            }
            if (seenNonZero_ && !seenPoint)
                ++integerDigitsAfterLead_;
            if (seenPoint)
                ++fractionDigits_;
            digits_ += static_cast<char>(c);
        }
        if (seenNonZero_ && integerDigitsAfterLead_ > 0)
            magnitude_ = integerDigitsAfterLead_ - 1;
        return anyDigit;
    }

    void ReadExponent()
    {
        const char16_t e = Peek();
        if (e != u'e' && e != u'E')
            return;
        const std::size_t rewind = pos_;
        Take();
        bool negativeExponent = false;
        if (Peek() == u'+' || Peek() == u'-')
            negativeExponent = Take() == u'-';
        if (!IsDigit(Peek())) {
            pos_ = rewind;  // "1e" and "1e+" are just 1
            return;
        }
        constexpr long long kCap = 1'000'000'000;
        long long exponent = 0;
        std::string text;
        while (IsDigit(Peek())) {
            const char16_t c = Take();
            exponent = std::min(kCap, exponent * 10 + (c - u'0'));
            text += static_cast<char>(c);
        }
        exponent_ = negativeExponent ? -exponent : exponent;
        digits_ += negativeExponent ? "e-" : "e";
        digits_ += text;
    }

    double Convert() const
    {
        double value = 0.0;
        const auto [end, error] = std::from_chars(digits_.data(), digits_.data() + digits_.size(), value);
        (void)end;
        if (error == std::errc::result_out_of_range)
            value = magnitude_ + exponent_ > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        return negative_ ? -value : value;
    }

    std::u16string_view text_;
    std::size_t pos_ = 0;
    std::string digits_;
    bool negative_ = false;
    bool seenNonZero_ = false;
    long long integerDigitsAfterLead_ = 0;
    long long fractionDigits_ = 0;
    long long magnitude_ = 0;
    long long exponent_ = 0;
};

}  // namespace

double LeadingNumber(std::u16string_view text)
{
    return NumberScanner(text).Read();
}

std::optional<std::int32_t> RoundToField(double value)
{
    const double rounded = std::nearbyint(value);  // the default mode rounds half to even
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::u16string NumberText(std::int64_t number)
{
    const std::string digits = std::to_string(number);
    std::u16string text(digits.begin(), digits.end());
    if (number >= 0)
        text.insert(text.begin(), u' ');
    return text;
}

std::u16string_view TrimBlanks(std::u16string_view text)
{
    const auto first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos)
        return {};
    const auto last = text.find_last_not_of(u' ');
    return text.substr(first, last - first + 1);
}

void TakeOptions(PackSettings& settings, BitsChoice bits, FormatChoice format)
{
    settings.bitsPerPixel =
        static_cast<std::int16_t>(ToCode(bits == BitsChoice::EightBit ? BitDepth::Indexed8 : BitDepth::Rgba32));
    settings.outputFormat =
        static_cast<std::int16_t>(ToCode(format == FormatChoice::Bmp ? FormatCode::Bmp : FormatCode::Png));
}

std::optional<NumberBox> TakeNumbers(PackSettings& settings, std::u16string_view widthText,
    std::u16string_view heightText, std::u16string_view marginText)
{
    const struct {
        NumberBox box;
        std::u16string_view text;
        std::int32_t& field;
    } takes[] = {
        {NumberBox::Width, widthText, settings.width},
        {NumberBox::Height, heightText, settings.height},
        {NumberBox::Margin, marginText, settings.margin},
    };
    for (const auto& take : takes) {
        const auto value = RoundToField(LeadingNumber(take.text));
        if (!value)
            return take.box;
        take.field = *value;
    }
    return std::nullopt;
}

void TakeName(PackSettings& settings, std::u16string_view nameText)
{
    settings.fileName.assign(nameText);
}

void SetFolder(PackSettings& settings, std::u16string_view reportedPath)
{
    settings.imagesFolder.assign(reportedPath);
    settings.imagesFolder += u'/';
}

}  // namespace vintrix
