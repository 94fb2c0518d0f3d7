// Image files as Vintrix reads them: the first byte picks the file's
// extension, the rest is the file. Every file either decodes into an RGBA
// image that fits the sheet or gives one error line that starts with the
// file's quoted name.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include "error.h"
#include "fuzz_check.h"
#include "images.h"
#include "utf8.h"

namespace {

constexpr const char* kExtensions[] = {"png", "bmp", "gif", "jpg", "webp", "tga", "tif"};
constexpr vintrix::Size kSheet{1024, 1024};

// A folder of this run's own, removed when the run ends.
const std::string& folder()
{
    static char name[] = "/tmp/vintrix-image-fuzz-XXXXXX";
    static const std::string path = [] {
        vintrix::fuzz::check(::mkdtemp(name) != nullptr);
        std::atexit([] { ::rmdir(name); });
        return std::string(name);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vintrix;
    using fuzz::check;
    if (size == 0)
        return 0;
    const std::string name = std::string("sprite.") + kExtensions[data[0] % std::size(kExtensions)];
    const int margin = data[0] / 64;
    {
        std::ofstream file(folder() + "/" + name, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
        check(static_cast<bool>(file));
    }
    try {
        const DecodeResult result = decodeImages(folder(), {name}, kSheet, margin, 1);
        check(result.images.size() == 1);
        const Image& image = result.images[0];
        check(image.width > 0 && image.height > 0);
        check(image.width + 2 * margin <= kSheet.w && image.height + 2 * margin <= kSheet.h);
        check(image.pixels.size() == std::size_t{image.bytesPerLine()} * static_cast<std::size_t>(image.height));
    } catch (const InputError& error) {
        const std::string e = error.what();
        check(e.rfind(quoted(name) + ": ", 0) == 0 && e.size() > name.size() + 4);
        for (const char c : e)
            check(c != '\n' && c != '\r');
    }
    std::remove((folder() + "/" + name).c_str());
    return 0;
}
