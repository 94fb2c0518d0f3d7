// The settings of one packing job and the conversions between box texts and
// numbers. The window keeps one PackSettings for its whole life: it is set to
// its start values when the window loads, refreshed from the controls on each
// press of Go, and composed into the packer's command line (CommandLine.h).
//
// Plain standard C++: texts are UTF-16 code units, as the window's controls
// hold them; the window converts at its edge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "PackerContract.h"

namespace vintrix {

// The output name is a fixed-length field: whatever is assigned keeps its
// first kLength units and is padded with blanks to exactly kLength.
class FixedName {
public:
    static constexpr std::size_t kLength = kWindowNameUnits;

    FixedName() : text_(kLength, u' ') {}
    explicit FixedName(std::u16string_view text) { assign(text); }

    void assign(std::u16string_view text);
    const std::u16string& text() const { return text_; }

    friend bool operator==(const FixedName&, const FixedName&) = default;

private:
    std::u16string text_;
};

enum class BitsChoice { EightBit, ThirtyTwoBit };
enum class FormatChoice { Bmp, Png };
enum class NumberBox { Width, Height, Margin };

struct PackSettings {
    std::int16_t bitsPerPixel = ToCode(BitDepth::Indexed8);  // a BitDepth's code
    std::int16_t outputFormat = ToCode(FormatCode::Bmp);     // a FormatCode
    std::int32_t width = 256;
    std::int32_t height = 256;
    std::int32_t margin = 0;
    FixedName fileName{u"Vintrix"};
    std::u16string imagesFolder;

    friend bool operator==(const PackSettings&, const PackSettings&) = default;
};

// The texts the boxes show on a fresh window and after Reset, and that an
// empty box is refilled with on Go.
inline constexpr std::u16string_view kDefaultWidthText = u"256";
inline constexpr std::u16string_view kDefaultHeightText = u"256";
inline constexpr std::u16string_view kDefaultMarginText = u"0";
inline constexpr std::u16string_view kDefaultNameText = u"Vintrix";

// The number at the start of a text, read the forgiving way: blanks, tabs and
// line feeds are skipped wherever they stand (even between digits), then an
// optional sign, digits with at most one "." and an optional exponent
// (E or e, optional sign, digits). Reading stops at the first unit that
// cannot continue the number; no number at all reads as 0, and a value too
// large for a double reads as infinity. Texts in &H / &O notation are not
// read as hexadecimal or octal: "&" cannot start a number, so they read as 0.
double LeadingNumber(std::u16string_view text);

// Rounds half to even into a 32-bit field; nothing when the rounded value
// lies outside the 32-bit signed range.
std::optional<std::int32_t> RoundToField(double value);

// A whole number as text: "-" before a negative number, one blank before any
// other ("5" gives u" 5").
std::u16string NumberText(std::int64_t number);

// Blanks (U+0020 only) removed from both ends.
std::u16string_view TrimBlanks(std::u16string_view text);

void TakeOptions(PackSettings& settings, BitsChoice bits, FormatChoice format);

// Takes width, height and margin in that order. A text whose value cannot be
// held in 32 bits stops it there: the fields before it keep their new values,
// and the box that could not be taken is returned.
std::optional<NumberBox> TakeNumbers(PackSettings& settings, std::u16string_view widthText,
    std::u16string_view heightText, std::u16string_view marginText);

void TakeName(PackSettings& settings, std::u16string_view nameText);

// The folder list reports a path; the record keeps it with one "/" added,
// unexamined (the root "/" becomes "//").
void SetFolder(PackSettings& settings, std::u16string_view reportedPath);

}  // namespace vintrix
