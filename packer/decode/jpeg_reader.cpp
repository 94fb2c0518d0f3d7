#include "jpeg_reader.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include <turbojpeg.h>

#include "error.h"
#include "image_bytes.h"

namespace vintrix {
namespace {

struct TurboFree {
    void operator()(void* handle) const { tjDestroy(handle); }
};

[[noreturn]] void fail(void* handle)
{
    throw InputError(std::string("cannot decode image: ") + tjGetErrorStr2(handle));
}

}  // namespace

void readJpeg(int fd, const SizeCheck& check, Image& out)
{
    std::vector<unsigned char> bytes;
    if (!readAll(fd, bytes))
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    if (bytes.size() > ULONG_MAX)
        throw InputError("cannot decode image: the file is too large");
    const std::unique_ptr<void, TurboFree> handle(tjInitDecompress());
    if (!handle)
        throw InputError("cannot decode image: out of memory");
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), bytes.data(), bytes.size(), &w, &h, &subsampling, &colorspace) != 0)
        fail(handle.get());
    check(w, h);
    // TurboJPEG decodes a cut file with the missing part filled in, as a
    // mere warning.
    if (endsEarly("jpeg", bytes.data(), bytes.size()))
        throw InputError("cannot decode image: the file ends early");
    out.width = w;
    out.height = h;
    out.pixels.resize(out.bytesPerLine() * static_cast<std::size_t>(h));
    if (tjDecompress2(handle.get(), bytes.data(), bytes.size(), out.pixels.data(), w,
            static_cast<int>(out.bytesPerLine()), h, TJPF_RGBA, TJFLAG_ACCURATEDCT) != 0 &&
        tjGetErrorCode(handle.get()) == TJERR_FATAL)
        fail(handle.get());
}

}  // namespace vintrix
