#include "webp_reader.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

#include "error.h"
#include "image_bytes.h"

namespace vintrix {
namespace {

struct AnimDecoderFree {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

[[noreturn]] void fail(const char* why)
{
    throw InputError(std::string("cannot decode image: ") + why);
}

void firstFrame(const std::vector<unsigned char>& bytes, Image& out)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        fail("libwebp failed");
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data{bytes.data(), bytes.size()};
    const std::unique_ptr<WebPAnimDecoder, AnimDecoderFree> decoder(WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info;
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) ||
        info.canvas_width != static_cast<std::uint32_t>(out.width) ||
        info.canvas_height != static_cast<std::uint32_t>(out.height) ||
        !WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp))
        fail("the WebP animation is damaged or ends early");
    std::memcpy(out.pixels.data(), canvas, out.pixels.size());
}

}  // namespace

void readWebp(int fd, const SizeCheck& check, Image& out)
{
    std::vector<unsigned char> bytes;
    if (!readAll(fd, bytes))
        fail(std::strerror(errno));
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        fail("not a WebP image, or its header is damaged");
    check(features.width, features.height);
    out.width = features.width;
    out.height = features.height;
    out.pixels.resize(out.bytesPerLine() * static_cast<std::size_t>(out.height));
    if (features.has_animation)
        return firstFrame(bytes, out);
    if (!WebPDecodeRGBAInto(
            bytes.data(), bytes.size(), out.pixels.data(), out.pixels.size(), static_cast<int>(out.bytesPerLine())))
        fail("the WebP data is damaged or ends early");
}

}  // namespace vintrix
