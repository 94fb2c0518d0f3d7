#include "pixels.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vintrix {
namespace {

std::size_t pixelCount(const Image& image)
{
    return static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
}

}  // namespace

TrimBox trim(Image& image, int threshold)
{
    const TrimBox untouched{0, 0, {image.width, image.height}};
    int left = image.width, right = -1, top = image.height, bottom = -1;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.bytesPerLine();
        for (int x = 0; x < image.width; ++x)
            if (row[static_cast<std::size_t>(x) * 4 + 3] > threshold) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = y;
            }
    }
    if (right < 0) {
        image = Image{1, 1, std::vector<std::uint8_t>(4, 0)};
        return untouched;
    }
    const int w = right - left + 1, h = bottom - top + 1;
    if (w == image.width && h == image.height)
        return untouched;
    const std::size_t from = image.bytesPerLine(), to = static_cast<std::size_t>(w) * 4;
    // Each kept row moves to an earlier place, so front to back overwrites
    // nothing still to be moved.
    for (int y = 0; y < h; ++y)
        std::memmove(image.pixels.data() + static_cast<std::size_t>(y) * to,
            image.pixels.data() + static_cast<std::size_t>(top + y) * from + static_cast<std::size_t>(left) * 4, to);
    image.width = w;
    image.height = h;
    image.pixels.resize(to * static_cast<std::size_t>(h));
    return {left, top, untouched.source};
}

namespace {

// The pixels of one ring around the visible ones: a list while it is small,
// a bit for every pixel of the image once the list would take more memory
// than that, so that a ring never takes more than an eighth of a byte a
// pixel and a scan of the bits serves at least 64 of its pixels a word.
class Ring {
public:
    explicit Ring(std::size_t pixels) : pixels_(pixels), maxListed_(std::max<std::size_t>(pixels / 32, 64)) {}

    bool empty() const { return count_ == 0; }
    void add(std::uint32_t i)
    {
        ++count_;
        if (!bits_.empty()) {
            bits_[i / 64] |= std::uint64_t{1} << (i % 64);
            return;
        }
        if (listed_.size() < maxListed_) {
            listed_.push_back(i);
            return;
        }
        bits_.assign((pixels_ + 63) / 64, 0);
        for (std::uint32_t j : listed_)
            bits_[j / 64] |= std::uint64_t{1} << (j % 64);
        bits_[i / 64] |= std::uint64_t{1} << (i % 64);
        std::vector<std::uint32_t>().swap(listed_);
    }
    template <class Visit>
    void forEach(Visit&& visit) const
    {
        if (bits_.empty()) {
            for (std::uint32_t i : listed_)
                visit(i);
            return;
        }
        for (std::size_t w = 0; w < bits_.size(); ++w)
            for (std::uint64_t word = bits_[w]; word != 0; word &= word - 1)
                visit(static_cast<std::uint32_t>(w * 64 + static_cast<unsigned>(std::countr_zero(word))));
    }
    void clear()
    {
        count_ = 0;
        std::vector<std::uint32_t>().swap(listed_);
        std::vector<std::uint64_t>().swap(bits_);
    }

private:
    std::size_t pixels_, maxListed_, count_ = 0;
    std::vector<std::uint32_t> listed_;
    std::vector<std::uint64_t> bits_;
};

}  // namespace

std::size_t bleedMemory(Size size)
{
    // A byte a pixel for its ring, and at most an eighth of one for each of
    // two rings, briefly three while one turns from a list into bits.
    const std::size_t pixels = static_cast<std::size_t>(size.w) * static_cast<std::size_t>(size.h);
    return pixels + pixels / 8 * 3 + 1024;
}

void bleed(Image& image)
{
    const int w = image.width, h = image.height;
    const std::size_t count = pixelCount(image);
    if (count == 0)
        return;
    std::uint8_t* px = image.pixels.data();
    // 0 for a pixel not reached yet, else 1 + its ring's number modulo 3: the
    // neighbours of a pixel in ring d are in rings d - 1, d or d + 1, which
    // this tells apart. The visible pixels are ring 0.
    std::vector<std::uint8_t> ringOf(count);
    const auto mark = [](std::size_t d) { return static_cast<std::uint8_t>(1 + d % 3); };
    for (std::size_t i = 0; i < count; ++i)
        ringOf[i] = px[i * 4 + 3] != 0 ? mark(0) : 0;

    auto forNeighbours = [&](std::uint32_t i, auto&& visit) {
        const int x = static_cast<int>(i % static_cast<std::uint32_t>(w)),
                  y = static_cast<int>(i / static_cast<std::uint32_t>(w));
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((dx || dy) && x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h)
                    visit(static_cast<std::uint32_t>((y + dy) * w + x + dx));
    };

    // Rings of pixels, each ring coloured from the one before, each pixel
    // with the average of its neighbours there.
    Ring ring(count), next(count);
    for (std::uint32_t i = 0; i < count; ++i)
        if (ringOf[i] == 0) {
            bool touches = false;
            forNeighbours(i, [&](std::uint32_t j) { touches = touches || ringOf[j] == mark(0); });
            if (touches) {
                ringOf[i] = mark(1);
                ring.add(i);
            }
        }
    for (std::size_t d = 1; !ring.empty(); ++d) {
        ring.forEach([&](std::uint32_t i) {
            unsigned sum[3] = {0, 0, 0}, n = 0;
            forNeighbours(i, [&](std::uint32_t j) {
                if (ringOf[j] == mark(d - 1)) {
                    for (std::size_t c = 0; c < 3; ++c)
                        sum[c] += px[std::size_t{j} * 4 + c];
                    ++n;
                } else if (ringOf[j] == 0) {
                    ringOf[j] = mark(d + 1);
                    next.add(j);
                }
            });
            for (std::size_t c = 0; c < 3; ++c)
                px[std::size_t{i} * 4 + c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        });
        ring.clear();
        std::swap(ring, next);
    }
}

void premultiply(Image& image)
{
    std::uint8_t* px = image.pixels.data();
    for (std::size_t i = 0, n = pixelCount(image); i < n; ++i, px += 4)
        for (int c = 0; c < 3; ++c)
            px[c] = static_cast<std::uint8_t>((px[c] * unsigned{px[3]} + 127) / 255);
}

Image rotated(const Image& image, Turn turn)
{
    Image out{image.height, image.width, std::vector<std::uint8_t>(image.pixels.size())};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            // Clockwise, the left column becomes the top row; the other way,
            // the top row becomes the left column.
            const int toX = turn == Turn::Clockwise ? image.height - 1 - y : y;
            const int toY = turn == Turn::Clockwise ? x : image.width - 1 - x;
            std::memcpy(out.pixels.data() + static_cast<std::size_t>(toY) * out.bytesPerLine() +
                    static_cast<std::size_t>(toX) * 4,
                image.pixels.data() + static_cast<std::size_t>(y) * image.bytesPerLine() +
                    static_cast<std::size_t>(x) * 4,
                4);
        }
    return out;
}

Image extruded(const Image& image, int border)
{
    Image out{image.width + 2 * border, image.height + 2 * border, {}};
    out.pixels.resize(out.bytesPerLine() * static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y) {
        const int from = std::clamp(y - border, 0, image.height - 1);
        const std::uint8_t* src = image.pixels.data() + static_cast<std::size_t>(from) * image.bytesPerLine();
        std::uint8_t* dst = out.pixels.data() + static_cast<std::size_t>(y) * out.bytesPerLine();
        for (int x = 0; x < border; ++x) {
            std::memcpy(dst + static_cast<std::size_t>(x) * 4, src, 4);
            std::memcpy(dst + static_cast<std::size_t>(border + image.width + x) * 4,
                src + static_cast<std::size_t>(image.width - 1) * 4, 4);
        }
        std::memcpy(dst + static_cast<std::size_t>(border) * 4, src, image.bytesPerLine());
    }
    return out;
}

Image placedOn(const Image& image, Size canvas, int x, int y)
{
    Image out{canvas.w, canvas.h, {}};
    out.pixels.assign(out.bytesPerLine() * static_cast<std::size_t>(out.height), 0);
    for (int row = 0; row < image.height; ++row)
        std::memcpy(out.pixels.data() + static_cast<std::size_t>(y + row) * out.bytesPerLine() +
                static_cast<std::size_t>(x) * 4,
            image.pixels.data() + static_cast<std::size_t>(row) * image.bytesPerLine(), image.bytesPerLine());
    return out;
}

}  // namespace vintrix
