#include "pixels.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

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

void bleed(Image& image)
{
    enum : std::uint8_t { Empty, Coloured, Next };
    const int w = image.width, h = image.height;
    const std::size_t count = pixelCount(image);
    std::uint8_t* px = image.pixels.data();
    std::vector<std::uint8_t> state(count);
    for (std::size_t i = 0; i < count; ++i)
        state[i] = px[i * 4 + 3] != 0 ? Coloured : Empty;

    auto forNeighbours = [&](std::size_t i, auto&& visit) {
        const int x = static_cast<int>(i % static_cast<std::size_t>(w)),
                  y = static_cast<int>(i / static_cast<std::size_t>(w));
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((dx || dy) && x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h)
                    visit(static_cast<std::size_t>(y + dy) * static_cast<std::size_t>(w) +
                        static_cast<std::size_t>(x + dx));
    };

    // Rings of pixels, each ring coloured from the one before.
    std::vector<std::size_t> ring, next;
    for (std::size_t i = 0; i < count; ++i)
        if (state[i] == Empty) {
            bool touches = false;
            forNeighbours(i, [&](std::size_t j) { touches = touches || state[j] == Coloured; });
            if (touches)
                ring.push_back(i);
        }
    for (std::size_t i : ring)
        state[i] = Next;
    std::vector<std::array<std::uint8_t, 3>> colours;
    while (!ring.empty()) {
        colours.resize(ring.size());
        for (std::size_t k = 0; k < ring.size(); ++k) {
            unsigned sum[3] = {0, 0, 0}, n = 0;
            forNeighbours(ring[k], [&](std::size_t j) {
                if (state[j] != Coloured)
                    return;
                for (int c = 0; c < 3; ++c)
                    sum[c] += px[j * 4 + static_cast<std::size_t>(c)];
                ++n;
            });
            for (int c = 0; c < 3; ++c)
                colours[k][static_cast<std::size_t>(c)] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
        next.clear();
        for (std::size_t k = 0; k < ring.size(); ++k) {
            std::memcpy(px + ring[k] * 4, colours[k].data(), 3);
            state[ring[k]] = Coloured;
        }
        for (std::size_t i : ring)
            forNeighbours(i, [&](std::size_t j) {
                if (state[j] == Empty) {
                    state[j] = Next;
                    next.push_back(j);
                }
            });
        ring.swap(next);
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

}  // namespace vintrix
