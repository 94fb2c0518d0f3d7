#include "palette.h"

#include <memory>
#include <string>

#include <libimagequant.h>

#include "error.h"

namespace vintrix {
namespace {

struct AttrDeleter {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
};
struct ImageDeleter {
    void operator()(liq_image* p) const { liq_image_destroy(p); }
};
struct HistogramDeleter {
    void operator()(liq_histogram* p) const { liq_histogram_destroy(p); }
};
struct ResultDeleter {
    void operator()(liq_result* p) const { liq_result_destroy(p); }
};
using Attr = std::unique_ptr<liq_attr, AttrDeleter>;
using LiqImage = std::unique_ptr<liq_image, ImageDeleter>;
using Histogram = std::unique_ptr<liq_histogram, HistogramDeleter>;
using Result = std::unique_ptr<liq_result, ResultDeleter>;

void check(liq_error err, const char* what) {
    if (err != LIQ_OK)
        throw OutputError(std::string("making the palette failed in ") + what + " (libimagequant error " +
                          std::to_string(static_cast<int>(err)) + ")");
}

Attr makeAttr(int colors) {
    Attr attr(liq_attr_create());
    if (!attr)
        throw OutputError("making the palette failed: out of memory");
    check(liq_set_max_colors(attr.get(), colors), "liq_set_max_colors");
    return attr;
}

// Fully transparent pixels all become transparent black, so that they fall
// on one palette entry whatever colour they carried.
std::vector<std::vector<std::uint8_t>> normalized(const std::vector<const Image*>& images) {
    std::vector<std::vector<std::uint8_t>> out;
    out.reserve(images.size());
    for (const Image* img : images) {
        std::vector<std::uint8_t> px = img->pixels;
        const std::size_t n = px.size();
        for (std::size_t i = 0; i < n; i += 4)
            if (px[i + 3] == 0)
                px[i] = px[i + 1] = px[i + 2] = 0;
        out.push_back(std::move(px));
    }
    return out;
}

std::vector<LiqImage> makeImages(const liq_attr* attr, const std::vector<const Image*>& images,
                                 const std::vector<std::vector<std::uint8_t>>& pixels) {
    std::vector<LiqImage> out;
    for (std::size_t i = 0; i < images.size(); ++i) {
        LiqImage img(liq_image_create_rgba(attr, pixels[i].data(), images[i]->width, images[i]->height, 0));
        if (!img)
            throw OutputError("making the palette failed: libimagequant refused an image");
        out.push_back(std::move(img));
    }
    return out;
}

Result quantizeHistogram(liq_attr* attr, std::vector<LiqImage>& images, const std::vector<liq_color>& fixed) {
    Histogram hist(liq_histogram_create(attr));
    if (!hist)
        throw OutputError("making the palette failed: out of memory");
    for (LiqImage& img : images)
        check(liq_histogram_add_image(hist.get(), attr, img.get()), "liq_histogram_add_image");
    for (const liq_color& c : fixed)
        check(liq_histogram_add_fixed_color(hist.get(), c, 0), "liq_histogram_add_fixed_color");
    liq_result* raw = nullptr;
    check(liq_histogram_quantize(hist.get(), attr, &raw), "liq_histogram_quantize");
    return Result(raw);
}

bool samePalette(const liq_palette& a, const liq_palette& b) {
    if (a.count != b.count)
        return false;
    for (unsigned i = 0; i < a.count; ++i)
        if (a.entries[i].r != b.entries[i].r || a.entries[i].g != b.entries[i].g ||
            a.entries[i].b != b.entries[i].b || a.entries[i].a != b.entries[i].a)
            return false;
    return true;
}

}  // namespace

IndexedImages quantize(const std::vector<const Image*>& images) {
    const auto pixels = normalized(images);

    // First pass: the best palette for the sheet, with a transparent entry
    // kept whether or not any image has transparent pixels.
    std::vector<liq_color> colors;
    {
        Attr attr = makeAttr(256);
        auto liqImages = makeImages(attr.get(), images, pixels);
        Result first = quantizeHistogram(attr.get(), liqImages, {liq_color{0, 0, 0, 0}});
        const liq_palette* pal = liq_get_palette(first.get());
        colors.assign(pal->entries, pal->entries + pal->count);
    }

    // Remapping refines a palette to the image being remapped, which would
    // give each image of the sheet a palette of its own. Quantizing again
    // with every entry fixed freezes it: all images then index one palette.
    Attr attr = makeAttr(static_cast<int>(colors.size()));
    auto liqImages = makeImages(attr.get(), images, pixels);
    Result result = quantizeHistogram(attr.get(), liqImages, colors);
    check(liq_set_dithering_level(result.get(), 1.0f), "liq_set_dithering_level");

    IndexedImages out;
    out.indices.resize(images.size());
    liq_palette reference{};
    for (std::size_t i = 0; i < images.size(); ++i) {
        auto& idx = out.indices[i];
        idx.resize(static_cast<std::size_t>(images[i]->width) * static_cast<std::size_t>(images[i]->height));
        check(liq_write_remapped_image(result.get(), liqImages[i].get(), idx.data(), idx.size()),
              "liq_write_remapped_image");
        const liq_palette* pal = liq_get_palette(result.get());
        if (i == 0)
            reference = *pal;
        else if (!samePalette(reference, *pal))
            throw OutputError("making the palette failed: libimagequant changed the palette between images");
    }
    if (images.empty())
        reference = *liq_get_palette(result.get());

    // Move the transparent entry to index 0.
    unsigned transparent = reference.count;
    for (unsigned i = 0; i < reference.count; ++i)
        if (reference.entries[i].a == 0) {
            transparent = i;
            break;
        }
    if (transparent == reference.count)
        throw OutputError("making the palette failed: no transparent entry");
    std::array<std::uint8_t, 256> lut{};
    out.palette.push_back({0, 0, 0, 0});
    for (unsigned i = 0; i < reference.count; ++i) {
        if (i == transparent)
            continue;
        lut[i] = static_cast<std::uint8_t>(out.palette.size());
        const liq_color& c = reference.entries[i];
        out.palette.push_back({c.r, c.g, c.b, c.a});
    }
    lut[transparent] = 0;

    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto& px = pixels[i];
        auto& idx = out.indices[i];
        for (std::size_t p = 0; p < idx.size(); ++p)
            idx[p] = px[p * 4 + 3] == 0 ? 0 : lut[idx[p]];
    }
    return out;
}

}  // namespace vintrix
