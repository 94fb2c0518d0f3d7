#include "palette.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
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
struct ResultDeleter {
    void operator()(liq_result* p) const { liq_result_destroy(p); }
};
using Attr = std::unique_ptr<liq_attr, AttrDeleter>;
using LiqImage = std::unique_ptr<liq_image, ImageDeleter>;
using Result = std::unique_ptr<liq_result, ResultDeleter>;

void check(liq_error err, const char* what)
{
    if (err != LIQ_OK)
        throw OutputError(std::string("making the palette failed in ") + what + " (libimagequant error " +
            std::to_string(static_cast<int>(err)) + ")");
}

// Speed 8 leaves out the contrast maps, which keep the whole picture as
// floating-point pixels, and the refining passes over the histogram: a
// sheet quantizes in a fraction of the time and memory, 1 to 1.5 dB of PSNR
// below the default speed and still 2 dB or more above ImageMagick's
// -colors 256 on the benchmark's sets.
constexpr int kQuantizeSpeed = 8;

Attr makeAttr(int colors)
{
    Attr attr(liq_attr_create());
    if (!attr)
        throw OutputError("making the palette failed: out of memory");
    check(liq_set_max_colors(attr.get(), colors), "liq_set_max_colors");
    check(liq_set_speed(attr.get(), kQuantizeSpeed), "liq_set_speed");
    return attr;
}

// The images as one RGBA picture that libimagequant reads row by row: either
// the sheet itself or, when the images cover less of the sheet than of a
// strip one image wide, the images stacked in that strip. Fully transparent
// pixels all become transparent black, so that they fall on one palette
// entry whatever colour they carried.
class Picture {
public:
    Picture(const std::vector<const Image*>& images, const std::vector<Position>& positions, Size sheet)
    {
        std::int64_t stripHeight = 0;
        int stripWidth = 1;
        for (const Image* img : images) {
            stripHeight += img->height;
            stripWidth = std::max(stripWidth, img->width);
        }
        const bool strip = stripHeight * stripWidth < std::int64_t{sheet.w} * sheet.h;
        width_ = strip ? stripWidth : sheet.w;
        height_ = strip ? static_cast<int>(std::max<std::int64_t>(stripHeight, 1)) : sheet.h;
        std::vector<std::vector<Span>> rows(static_cast<std::size_t>(height_));
        int next = 0;
        for (std::size_t k = 0; k < images.size(); ++k) {
            const Image& img = *images[k];
            const Position at = strip ? Position{0, next} : positions[k];
            next += img.height;
            places_.push_back(at);
            for (int r = 0; r < img.height; ++r)
                rows[static_cast<std::size_t>(at.y + r)].push_back(
                    {at.x, img.width, img.pixels.data() + static_cast<std::size_t>(r) * img.bytesPerLine()});
        }
        rowStart_.push_back(0);
        for (auto& row : rows) {
            spans_.insert(spans_.end(), row.begin(), row.end());
            rowStart_.push_back(spans_.size());
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }
    Position place(std::size_t k) const { return places_[k]; }

    // libimagequant may ask for rows in any order and from several threads.
    static void row(liq_color out[], int y, int width, void* self)
    {
        const auto& p = *static_cast<const Picture*>(self);
        std::memset(out, 0, static_cast<std::size_t>(width) * sizeof(liq_color));
        for (std::size_t s = p.rowStart_[static_cast<std::size_t>(y)]; s < p.rowStart_[static_cast<std::size_t>(y) + 1];
             ++s) {
            const Span& span = p.spans_[s];
            for (int i = 0; i < span.w; ++i) {
                const std::uint8_t* px = span.pixels + static_cast<std::size_t>(i) * 4;
                if (px[3] != 0)
                    out[span.x + i] = liq_color{px[0], px[1], px[2], px[3]};
            }
        }
    }

private:
    struct Span {
        int x, w;
        const std::uint8_t* pixels;
    };
    int width_ = 0, height_ = 0;
    std::vector<Position> places_;
    std::vector<Span> spans_;
    std::vector<std::size_t> rowStart_;
};

}  // namespace

// libimagequant reports the palette's progress and then the mapping's, each
// from 0 to 100 and not always forward: the palette is the first half of
// the work here, the mapping the second, and the report never goes back.
struct PercentReport {
    const PercentFn& report;
    int from;
    int& shown;
    static int onProgress(float percent, void* self)
    {
        const auto& r = *static_cast<PercentReport*>(self);
        const int now = r.from + static_cast<int>(std::clamp(percent, 0.0f, 100.0f)) / 2;
        if (now > r.shown)
            r.report(r.shown = now);
        return 1;
    }
};

IndexedImages quantize(const std::vector<const Image*>& images, const std::vector<Position>& positions, Size sheet,
    const PercentFn& progress)
{
    // libimagequant spreads each picture over threads of its own; one sheet
    // at a time keeps those from contending and holds one histogram at once.
    static std::mutex oneAtATime;
    const std::lock_guard lock(oneAtATime);
    Picture picture(images, positions, sheet);
    Attr attr = makeAttr(256);
    LiqImage image(liq_image_create_custom(attr.get(), &Picture::row, &picture, picture.width(), picture.height(), 0));
    if (!image)
        throw OutputError("making the palette failed: libimagequant refused the images");
    // A transparent entry is kept whether or not any image has transparent
    // pixels.
    check(liq_image_add_fixed_color(image.get(), liq_color{0, 0, 0, 0}), "liq_image_add_fixed_color");
    int shown = -1;
    PercentReport palettePart{progress, 0, shown}, mappingPart{progress, 50, shown};
    if (progress)
        liq_attr_set_progress_callback(attr.get(), &PercentReport::onProgress, &palettePart);
    liq_result* raw = nullptr;
    check(liq_image_quantize(image.get(), attr.get(), &raw), "liq_image_quantize");
    Result result(raw);
    if (progress)
        liq_result_set_progress_callback(result.get(), &PercentReport::onProgress, &mappingPart);
    // Each pixel takes its nearest palette colour: error diffusion scatters
    // noise over flat colours and gradients alike, takes 40% of an 8-bit
    // run, lowers the PSNR by about 2 dB and makes the sheet compress to
    // about three times the size.
    check(liq_set_dithering_level(result.get(), 0.0f), "liq_set_dithering_level");

    const auto width = static_cast<std::size_t>(picture.width());
    std::vector<std::uint8_t> remapped(width * static_cast<std::size_t>(picture.height()));
    std::vector<unsigned char*> rowPointers(static_cast<std::size_t>(picture.height()));
    for (std::size_t y = 0; y < rowPointers.size(); ++y)
        rowPointers[y] = remapped.data() + y * width;
    check(
        liq_write_remapped_image_rows(result.get(), image.get(), rowPointers.data()), "liq_write_remapped_image_rows");
    const liq_palette reference = *liq_get_palette(result.get());

    IndexedImages out;
    out.indices.resize(images.size());
    for (std::size_t k = 0; k < images.size(); ++k) {
        const Image& img = *images[k];
        const Position at = picture.place(k);
        auto& idx = out.indices[k];
        idx.resize(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height));
        for (int r = 0; r < img.height; ++r)
            std::memcpy(idx.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(img.width),
                remapped.data() + static_cast<std::size_t>(at.y + r) * width + static_cast<std::size_t>(at.x),
                static_cast<std::size_t>(img.width));
    }
    remapped = {};

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
        const auto& px = images[i]->pixels;
        auto& idx = out.indices[i];
        for (std::size_t p = 0; p < idx.size(); ++p)
            idx[p] = px[p * 4 + 3] == 0 ? 0 : lut[idx[p]];
    }
    return out;
}

}  // namespace vintrix
