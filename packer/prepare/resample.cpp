#include "pixels.h"

#include <new>

#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

namespace vintrix {

Image resampled(const Image& image, Size size, bool premultiplied)
{
    Image out{size.w, size.h, {}};
    out.pixels.resize(out.bytesPerLine() * static_cast<std::size_t>(out.height));
    // The box filter averages the area each new pixel covers; stb weighs the
    // colours by alpha itself unless they already are.
    if (!stbir_resize_uint8_generic(image.pixels.data(), image.width, image.height,
            static_cast<int>(image.bytesPerLine()), out.pixels.data(), out.width, out.height,
            static_cast<int>(out.bytesPerLine()), 4, 3, premultiplied ? STBIR_FLAG_ALPHA_PREMULTIPLIED : 0,
            STBIR_EDGE_CLAMP, STBIR_FILTER_BOX, STBIR_COLORSPACE_LINEAR, nullptr))
        throw std::bad_alloc();
    return out;
}

}  // namespace vintrix
