// What the window and Vintrix must agree on, written once for both: the
// seven arguments of the packer's command line, in their order, with their
// codes and limits; the exit statuses Vintrix ends with (and the shell's when
// it cannot run Vintrix); and the progress lines Vintrix prints for a program
// that reads its standard error through a pipe.
//
// The window composes the command line (settings/CommandLine), the shell
// splits it, Vintrix parses it (packer/cli/options); Vintrix prints progress
// lines and ends with a status (packer/cli), and the job's window reads both
// (launch/JobProcess, launch/JobOutcome). Plain C++, header-only.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace vintrix {

inline constexpr char kPackerProgram[] = "Vintrix";

// The positional arguments, in the order they are given:
//   Vintrix WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER
enum class Argument { Width, Height, Name, BitsPerPixel, Format, Margin, Folder };
inline constexpr std::size_t kArgumentCount = 7;

// The named options that take a value, each name it goes by: a reader of
// the command line (the job's window) must skip the word after them.
inline constexpr std::array<std::string_view, 10> kOptionsWithValue = {"-o", "--output", "--data", "--trim-threshold",
    "--extrude", "--png-level", "--max-sheets", "--depfile", "--variant", "--config"};

inline constexpr int kMinSheetSide = 1;
inline constexpr int kMaxSheetSide = 65536;

// NAME, in bytes of UTF-8. The window's name field holds kWindowNameUnits
// UTF-16 units, at most three bytes each, so any name it sends fits.
inline constexpr std::size_t kMaxNameBytes = 200;
inline constexpr std::size_t kWindowNameUnits = 50;
static_assert(kWindowNameUnits * 3 <= kMaxNameBytes);

// BPP: the sheet's pixels, as their code on the command line.
enum class BitDepth : int {
    Indexed8 = 8,  // one palette of up to 256 colours a sheet
    Rgba32 = 32,   // RGBA, 8 bits a channel
};

constexpr int ToCode(BitDepth depth)
{
    return static_cast<int>(depth);
}

constexpr std::optional<BitDepth> BitDepthFromCode(long long code)
{
    if (code == ToCode(BitDepth::Indexed8))
        return BitDepth::Indexed8;
    if (code == ToCode(BitDepth::Rgba32))
        return BitDepth::Rgba32;
    return std::nullopt;
}

// FORMAT: the sheet's file format, as its code on the command line.
enum class FormatCode : int { Bmp = 0, Png = 1 };

constexpr int ToCode(FormatCode format)
{
    return static_cast<int>(format);
}

// What both programs know of a sheet format: its code, the name messages
// give it and the extension of its files. Vintrix's encode library keeps
// each format's writer and limits, keyed by the same code.
struct SheetFormat {
    FormatCode code;
    std::string_view name;
    std::string_view extension;
};

inline constexpr SheetFormat kSheetFormats[] = {
    {FormatCode::Bmp, "BMP", ".bmp"},
    {FormatCode::Png, "PNG", ".png"},
};

constexpr const SheetFormat* FindSheetFormat(long long code)
{
    for (const SheetFormat& format : kSheetFormats)
        if (ToCode(format.code) == code)
            return &format;
    return nullptr;
}

constexpr std::optional<FormatCode> FormatFromCode(long long code)
{
    const SheetFormat* format = FindSheetFormat(code);
    return format ? std::optional(format->code) : std::nullopt;
}

constexpr const SheetFormat& SheetFormatOf(FormatCode code)
{
    return *FindSheetFormat(ToCode(code));
}

// The formats as FORMAT's help gives them: "0 (BMP) or 1 (PNG)".
inline std::string SheetFormatChoices()
{
    std::string choices;
    for (const SheetFormat& format : kSheetFormats) {
        if (!choices.empty())
            choices += &format == std::end(kSheetFormats) - 1 ? " or " : ", ";
        choices += std::to_string(ToCode(format.code)) + " (" + std::string(format.name) + ")";
    }
    return choices;
}

// The exit status of Vintrix. Scripts and the window rely on these numbers.
enum class ExitCode : int {
    Ok = 0,
    BadArguments = 2,  // an argument is missing or out of range, or the folder can't be read
    BadInput = 3,      // no images, an image can't be decoded, or one can't fit on a sheet
    OutputFailed = 4,  // Output or a file in it could not be written
    Superseded = 5,    // a run of the same name started later put its output in place first; this one's is dropped
};
// A run stopped by SIGINT, SIGTERM or SIGHUP removes its temporary files and
// then ends by that signal, as shells expect.

constexpr int toInt(ExitCode code)
{
    return static_cast<int>(code);
}

// The statuses of the shell that runs Vintrix, when it cannot.
inline constexpr int kShellCannotExecute = 126;
inline constexpr int kShellNotFound = 127;

// With VINTRIX_PROGRESS=lines in its environment, Vintrix prints on standard
// error whole lines "progress STAGE DONE TOTAL", DONE <= TOTAL, one whenever
// the stage or the whole percent changes.
inline constexpr char kProgressVariable[] = "VINTRIX_PROGRESS";
inline constexpr char kProgressLines[] = "lines";
inline constexpr std::string_view kProgressWord = "progress";

// Waiting: for another run that holds the output folder's lock, 0 of 0.
enum class Stage { Reading, Packing, Palette, Writing, Waiting };

constexpr std::string_view StageName(Stage stage)
{
    switch (stage) {
    case Stage::Reading:
        return "reading";
    case Stage::Packing:
        return "packing";
    case Stage::Palette:
        return "palette";
    case Stage::Writing:
        return "writing";
    case Stage::Waiting:
        return "waiting";
    }
    return {};
}

// Nothing for a name this side does not know (a newer Vintrix's stage).
constexpr std::optional<Stage> StageFromName(std::string_view name)
{
    for (const Stage stage : {Stage::Reading, Stage::Packing, Stage::Palette, Stage::Writing, Stage::Waiting})
        if (StageName(stage) == name)
            return stage;
    return std::nullopt;
}

inline std::string ProgressLineText(Stage stage, std::uint64_t done, std::uint64_t total)
{
    std::string line(kProgressWord);
    line += ' ';
    line += StageName(stage);
    line += ' ';
    line += std::to_string(done);
    line += ' ';
    line += std::to_string(total);
    line += '\n';
    return line;
}

struct ProgressLine {
    std::string stage;  // as named in the line, one of the stages above or a newer one
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    bool operator==(const ProgressLine&) const = default;
};

// A line as ProgressLineText writes it, without its line end; anything else
// is not a progress line.
inline std::optional<ProgressLine> ParseProgressLine(std::string_view line)
{
    constexpr std::size_t kFields = 4;  // progress STAGE DONE TOTAL
    std::string_view fields[kFields];
    std::size_t count = 0;
    for (std::size_t start = 0, i = 0; i <= line.length(); ++i) {
        if (i < line.length() && line[i] != ' ')
            continue;
        if (count == kFields)
            return std::nullopt;
        fields[count++] = line.substr(start, i - start);
        start = i + 1;
    }
    std::uint64_t numbers[2] = {};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string_view text = fields[2 + i];
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.length(), numbers[i]);
        if (text.empty() || error != std::errc{} || end != text.data() + text.length())
            return std::nullopt;
    }
    if (count != kFields || fields[0] != kProgressWord || fields[1].empty() || numbers[0] > numbers[1])
        return std::nullopt;
    return ProgressLine{std::string(fields[1]), numbers[0], numbers[1]};
}

}  // namespace vintrix
