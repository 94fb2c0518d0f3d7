#include "stb_reader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "error.h"
#include "image_bytes.h"

// stb_image, built here with the readers of these three formats only.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#include <stb/stb_image.h>

namespace vintrix {
namespace {

struct StbFree {
    void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

[[noreturn]] void fail()
{
    const char* why = stbi_failure_reason();
    throw InputError(std::string("cannot decode image: ") + (why ? why : "stb_image failed"));
}

// `format` names the file's format for the check of where its data ends.
void readWithStb(int fd, const SizeCheck& check, Image& out, std::string_view format)
{
    std::vector<unsigned char> bytes;
    if (!readAll(fd, bytes))
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    if (bytes.size() > INT_MAX)
        throw InputError("cannot decode image: the file is larger than 2 GiB");
    if (format == "bmp" && isRunLengthBmp(bytes.data(), bytes.size()))
        throw InputError("cannot decode image: BMP with run-length encoded pixels is not read");
    const auto size = static_cast<int>(bytes.size());
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(bytes.data(), size, &w, &h, &channels))
        fail();
    check(w, h);
    if (endsEarly(format, bytes.data(), bytes.size()))
        throw InputError("cannot decode image: the file ends early");
    const std::unique_ptr<stbi_uc, StbFree> pixels(stbi_load_from_memory(bytes.data(), size, &w, &h, &channels, 4));
    if (!pixels)
        fail();
    out.width = w;
    out.height = h;
    out.pixels.assign(pixels.get(), pixels.get() + out.bytesPerLine() * static_cast<std::size_t>(h));
}

}  // namespace

void readBmp(int fd, const SizeCheck& check, Image& out)
{
    readWithStb(fd, check, out, "bmp");
}

void readGif(int fd, const SizeCheck& check, Image& out)
{
    readWithStb(fd, check, out, "gif");
}

void readTga(int fd, const SizeCheck& check, Image& out)
{
    readWithStb(fd, check, out, "tga");
}

}  // namespace vintrix
