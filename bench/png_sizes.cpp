#include "png_sizes.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include <png.h>

namespace fs = std::filesystem;

namespace vintrix::bench {
namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePtr open(const fs::path& path, const char* mode)
{
    FilePtr f(std::fopen(path.c_str(), mode), std::fclose);
    if (!f)
        throw std::runtime_error("cannot open " + path.string());
    return f;
}

}  // namespace

std::uintmax_t libpngDefaultBytes(const fs::path& png)
{
    const fs::path out = png.string() + ".libpng";
    {
        FilePtr in = open(png, "rb");
        png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(reader);
        FilePtr dst = open(out, "wb");
        png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (setjmp(png_jmpbuf(reader)) || setjmp(png_jmpbuf(writer))) {
            png_destroy_read_struct(&reader, &info, nullptr);
            png_destroy_write_struct(&writer, nullptr);
            throw std::runtime_error("libpng failed on " + png.string());
        }
        png_init_io(reader, in.get());
        png_read_png(reader, info, PNG_TRANSFORM_IDENTITY, nullptr);
        // The decoded rows, palette and tRNS are written back unchanged with
        // the writer's default filters and compression.
        png_init_io(writer, dst.get());
        png_write_png(writer, info, PNG_TRANSFORM_IDENTITY, nullptr);
        png_destroy_write_struct(&writer, nullptr);
        png_destroy_read_struct(&reader, &info, nullptr);
    }
    const std::uintmax_t bytes = fs::file_size(out);
    fs::remove(out);
    return bytes;
}

std::uintmax_t optipngBytes(const fs::path& png, const fs::path& scratch)
{
    fs::create_directories(scratch);
    const fs::path copy = scratch / png.filename();
    fs::copy_file(png, copy, fs::copy_options::overwrite_existing);
    const std::string cmd = "optipng -quiet -o2 '" + copy.string() + "'";
    if (std::system(cmd.c_str()) != 0)
        throw std::runtime_error("optipng failed: " + cmd);
    const std::uintmax_t bytes = fs::file_size(copy);
    fs::remove(copy);
    return bytes;
}

}  // namespace vintrix::bench
