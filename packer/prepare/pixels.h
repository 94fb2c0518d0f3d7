#pragma once
// Small transforms of decoded images, applied between decoding and the
// sheet writer so that the writer only ever copies rows: transparent
// borders trimmed, the colour of transparent pixels bled from their
// visible neighbours, colours premultiplied by alpha, and, once the layout
// has placed an image, the image rotated for its place or extruded.

#include "image.h"

namespace vintrix {

// Where the pixels an image keeps after trim() sit in the original.
struct TrimBox {
    int x = 0, y = 0;  // of the kept pixels' top left in the original
    Size source;       // the original's size
};

// Cuts the rows and columns along the edges whose alpha are all at most
// `threshold`. An image with nothing above it becomes one transparent pixel
// at 0,0.
TrimBox trim(Image& image, int threshold);

// Gives every fully transparent pixel the average colour of its nearest
// visible pixels (8-connected, in rings around them); alpha stays 0, so
// nothing changes where the image is shown unscaled. An image with no
// visible pixel is left as it is. For images of fewer than 2^31 pixels.
void bleed(Image& image);

// The most memory bleed() takes besides the image's own, in bytes: about a
// third of the image's.
std::size_t bleedMemory(Size size);

// Multiplies red, green and blue by alpha / 255, rounded to the nearest.
void premultiply(Image& image);

enum class Turn { Clockwise, Counterclockwise };

// The image turned 90 degrees: height wide, width high.
Image rotated(const Image& image, Turn turn);

// The image with its edge pixels repeated `border` times around it.
Image extruded(const Image& image, int border);

// The image on a transparent canvas of `canvas`, its top left at x, y.
Image placedOn(const Image& image, Size canvas, int x, int y);

// The image resampled to `size`, no larger than it, each pixel the average
// of the area it covers, weighted by alpha (or taken as it is when the
// image is already premultiplied).
Image resampled(const Image& image, Size size, bool premultiplied);

}  // namespace vintrix
