#pragma once
// One run of Vintrix: list and decode the images folder, fold duplicates,
// pack, then write each sheet and its atlas data into Output/ (or -o) under
// temporary names and rename them into place together.
//
// The stages, one folder and library each, in the order a run meets them:
//   cli/     options.h parses the command line, settings_file.h the images
//            folder's vintrix.toml; run() drives the stages
//   decode/  image_files.h lists the folder, images.h decodes on every core
//   prepare/ pixels.h trims, bleeds or premultiplies the decoded images, and
//            turns and extrudes them once they are placed; duplicates.h
//            folds identical images
//   layout/  maxrects.h places the sizes on as few sheets as it can, rotated
//            where allowed and denser
//   encode/  sheet_writer.h composes each sheet row by row, writes PNG or BMP
//   atlas/   data_formats.h writes the atlas data in the format asked for
//   output/  output_files.h puts the run's files into Output/ together
//   core/    image.h, error.h and helpers shared by all of them
// Each library links only those below it: core at the bottom, decode,
// prepare, layout, atlas and output on core, encode on layout, cli on all.

#include <iosfwd>

#include "PackerContract.h"
#include "options.h"

namespace vintrix {

// Writes the summary line to `out` and one "error: " line per failure to `err`.
ExitCode run(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace vintrix
