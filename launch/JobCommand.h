// What the job's window reads of the job's script: the packer's command, as
// the main window writes it (`Vintrix W H NAME BPP FORMAT MARGIN FOLDER`,
// quoted for the shell), with any of the packer's named options. Plain C++,
// on the script's bytes. A script this cannot read for certain (an expansion,
// a glob, a redirection, a count of arguments the packer would refuse) gives
// nothing rather than a guess.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PackerContract.h"

namespace vintrix {

// The words of the first command in `script` as the shell passes them on,
// or nothing when the shell would change them (`$`, backquotes, globs, `~`)
// or the command has redirections or no end to a quote.
std::optional<std::vector<std::string>> ShellWords(std::string_view script);

struct PackCommand {
    std::string name;
    FormatCode format = FormatCode::Bmp;
    std::string imagesFolder;  // as the command names them, maybe relative
    std::string outputFolder;  // "Output" unless -o names another
    bool operator==(const PackCommand&) const = default;
};

// The packer's command in `script`, split as Vintrix splits its arguments.
std::optional<PackCommand> ReadPackCommand(std::string_view script);

// The number of sheets Vintrix's summary line reports ("packed … into N
// sheets …").
std::optional<int> SheetCount(std::string_view summary);

// The folder Vintrix wrote into, as its summary line names it ("… with
// atlas data DIR/NAME.json"): where the output went, whatever told Vintrix
// (-o, or its settings file). "" for the current folder.
std::optional<std::string> SummaryOutputFolder(std::string_view summary);

// The file name of sheet `index` (from 0) of `command`: NAME.png, NAME-2.png, …
std::string SheetFileName(const PackCommand& command, int index);

}  // namespace vintrix
