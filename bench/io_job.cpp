// The I/O of a Vintrix run alone, as a process of its own: started like
// Vintrix, with the same libraries, it lists and decodes the folder with
// Vintrix's decoder and writes the given layout's 32-bit PNG sheets with
// Vintrix's writer and thread count. It neither packs nor checks duplicates
// nor writes data files.
//
//   vintrix_io_job FOLDER WIDTH HEIGHT MARGIN LAYOUT_FILE OUTPUT_FOLDER
//
// LAYOUT_FILE: the number of sheets, then "sheet x y" for each image in the
// order of the sorted file names.

#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "error.h"
#include "images.h"
#include "maxrects.h"
#include "sheet_writer.h"

int main(int argc, char** argv)
{
    using namespace vintrix;
    if (argc != 7) {
        std::cerr << "usage: vintrix_io_job FOLDER WIDTH HEIGHT MARGIN LAYOUT_FILE OUTPUT_FOLDER\n";
        return 2;
    }
    const std::string folder = argv[1], outDir = argv[6];
    const Size sheet{std::stoi(argv[2]), std::stoi(argv[3])};
    const int margin = std::stoi(argv[4]);
    Layout layout;
    std::ifstream in(argv[5]);
    in >> layout.sheets;
    for (Placement p; in >> p.sheet >> p.x >> p.y;)
        layout.placements.push_back(p);

    const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    const std::vector<std::string> names = listImageFiles(folder);
    DecodeResult decoded;
    try {
        decoded = decodeImages(folder, names, sheet, margin, threads);
    } catch (const Error& e) {
        std::cerr << "error: " << e.what() << '\n';
        return 1;
    }
    if (decoded.images.size() != layout.placements.size()) {
        std::cerr << "error: the layout does not match the folder\n";
        return 1;
    }
    std::vector<const Image*> images;
    for (const Image& img : decoded.images)
        images.push_back(&img);
    std::vector<std::string> paths;
    for (int s = 0; s < layout.sheets; ++s)
        paths.push_back(outDir + "/io-" + std::to_string(s) + ".png");
    try {
        writeSheets(paths, layout, images, std::vector<Size>(paths.size(), sheet), 0, {}, threads);
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
