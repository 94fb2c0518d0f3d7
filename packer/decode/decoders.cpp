#include "decoders.h"

#include <algorithm>
#include <cstring>

#include "jpeg_reader.h"
#include "stb_reader.h"
#include "tiff_reader.h"
#include "webp_reader.h"

namespace vintrix {
namespace {

bool startsWith(std::span<const unsigned char> head, std::string_view magic, std::size_t at = 0)
{
    return head.size() >= at + magic.size() && std::memcmp(head.data() + at, magic.data(), magic.size()) == 0;
}

bool isPng(std::span<const unsigned char> head)
{
    return hasPngSignature(head.data(), head.size());
}

bool isBmp(std::span<const unsigned char> head)
{
    return startsWith(head, "BM");
}

bool isJpeg(std::span<const unsigned char> head)
{
    return startsWith(head, "\xFF\xD8\xFF");
}

bool isGif(std::span<const unsigned char> head)
{
    return startsWith(head, "GIF87a") || startsWith(head, "GIF89a");
}

bool isWebp(std::span<const unsigned char> head)
{
    return startsWith(head, "RIFF") && startsWith(head, "WEBP", 8);
}

bool isTiff(std::span<const unsigned char> head)
{
    using namespace std::string_view_literals;
    return startsWith(head, "II*\0"sv) || startsWith(head, "MM\0*"sv) || startsWith(head, "II+\0"sv) ||
        startsWith(head, "MM\0+"sv);
}

constexpr Decoder kDecoders[] = {
    {"PNG", {"png"}, isPng, readPng},
    {"BMP", {"bmp"}, isBmp, readBmp},
    {"JPEG", {"jpg", "jpeg"}, isJpeg, readJpeg},
    {"GIF", {"gif"}, isGif, readGif},
    {"WebP", {"webp"}, isWebp, readWebp},
    {"TGA", {"tga"}, nullptr, readTga},
    {"TIFF", {"tif", "tiff"}, isTiff, readTiff},
};

bool hasExtension(const Decoder& d, std::string_view extension)
{
    return std::find(d.extensions.begin(), d.extensions.end(), extension) != d.extensions.end();
}

}  // namespace

std::span<const Decoder> decoders()
{
    return kDecoders;
}

bool isImageExtension(std::string_view extension)
{
    return !extension.empty() &&
        std::any_of(
            std::begin(kDecoders), std::end(kDecoders), [&](const Decoder& d) { return hasExtension(d, extension); });
}

const Decoder* decoderFor(std::span<const unsigned char> head, std::string_view extension)
{
    for (const Decoder& d : kDecoders)
        if (d.recognizes && d.recognizes(head))
            return &d;
    for (const Decoder& d : kDecoders)
        if (!d.recognizes && hasExtension(d, extension))
            return &d;
    return nullptr;
}

std::string decoderNames(std::string_view last)
{
    std::string names;
    for (std::size_t i = 0; i < std::size(kDecoders); ++i) {
        if (i > 0)
            names += i + 1 == std::size(kDecoders) ? " " + std::string(last) + " " : ", ";
        names += kDecoders[i].name;
    }
    return names;
}

}  // namespace vintrix
