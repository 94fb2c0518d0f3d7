#include "tga_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "error.h"
#include "image_bytes.h"

// stb_image, built here with its TGA reader only.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#include <stb/stb_image.h>

namespace vintrix {
namespace {

struct StbFree {
    void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

bool readAll(int fd, std::vector<unsigned char>& bytes)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 && (bytes.resize(got), true);
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void readTga(int fd, const SizeCheck& check, Image& out)
{
    std::vector<unsigned char> bytes;
    if (!readAll(fd, bytes))
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    const auto size = static_cast<int>(std::min<std::size_t>(bytes.size(), INT32_MAX));
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(bytes.data(), size, &w, &h, &channels))
        throw InputError(std::string("cannot decode image: ") + stbi_failure_reason());
    check(w, h);
    if (endsEarly("tga", bytes.data(), bytes.size()))
        throw InputError("cannot decode image: the file ends early");
    const std::unique_ptr<stbi_uc, StbFree> pixels(stbi_load_from_memory(bytes.data(), size, &w, &h, &channels, 4));
    if (!pixels)
        throw InputError(std::string("cannot decode image: ") + stbi_failure_reason());
    out.width = w;
    out.height = h;
    out.pixels.assign(pixels.get(), pixels.get() + out.bytesPerLine() * static_cast<std::size_t>(h));
}

}  // namespace vintrix
