#include "nine_patch.h"

#include <algorithm>
#include <cstring>

namespace vintrix {
namespace {

// The first and last marked pixel of one edge, in the picture's
// coordinates (the guides' border left out).
struct Run {
    int first = -1, last = -1;
};

}  // namespace

bool isNinePatchName(std::string_view name)
{
    constexpr std::string_view suffix = ".9.png";
    if (name.size() <= suffix.size())
        return false;
    return std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
        [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b); });
}

NinePatch stripNinePatch(Image& image)
{
    NinePatch patch;
    const int w = image.width, h = image.height;
    if (w < 3 || h < 3) {
        patch.fault = "a nine-patch is at least 3x3 pixels, its picture inside a 1-pixel border of guides, not " +
            std::to_string(w) + "x" + std::to_string(h);
        return patch;
    }
    const auto pixel = [&](int x, int y) {
        return image.pixels.data() + static_cast<std::size_t>(y) * image.bytesPerLine() +
            static_cast<std::size_t>(x) * 4;
    };
    // Each edge walked from the top left; `edge` names it in a fault.
    const auto read = [&](int x0, int y0, int dx, int dy, int length, const char* edge) {
        Run run;
        for (int i = 0; i < length && patch.fault.empty(); ++i) {
            const int x = x0 + dx * i, y = y0 + dy * i;
            const std::uint8_t* p = pixel(x, y);
            const bool black = p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 255;
            const bool inMarks = i >= 1 && i <= length - 2;
            if (p[3] == 0)
                continue;
            if (!black || !inMarks) {
                const std::string at = "pixel " + std::to_string(x) + "," + std::to_string(y);
                patch.fault = inMarks ? at + " of its " + edge + " guide is neither black nor transparent"
                                      : at + ", a corner of its guides, is not transparent";
                break;
            }
            if (run.first >= 0 && run.last != i - 2) {
                patch.fault = std::string("its ") + edge + " guide marks more than one run, where a nine-slice has one";
                break;
            }
            if (run.first < 0)
                run.first = i - 1;
            run.last = i - 1;
        }
        return run;
    };
    const Run top = read(0, 0, 1, 0, w, "top"), left = read(0, 0, 0, 1, h, "left");
    const Run bottom = read(0, h - 1, 1, 0, w, "bottom"), right = read(w - 1, 0, 0, 1, h, "right");
    if (!patch.fault.empty())
        return patch;

    const int pw = w - 2, ph = h - 2;  // the picture's size
    const auto borders = [&](Run across, Run down) {
        Borders b;
        if (across.first >= 0)
            b = {across.first, 0, pw - 1 - across.last, 0};
        if (down.first >= 0) {
            b.top = down.first;
            b.bottom = ph - 1 - down.last;
        }
        return b;
    };
    patch.slices = borders(top, left);
    if (bottom.first >= 0 || right.first >= 0) {
        // An edge without content marks takes the stretching part's.
        patch.padding = borders(bottom.first >= 0 ? bottom : top, right.first >= 0 ? right : left);
    }

    Image picture{pw, ph, std::vector<std::uint8_t>(static_cast<std::size_t>(pw) * ph * 4)};
    for (int y = 0; y < ph; ++y)
        std::memcpy(picture.pixels.data() + static_cast<std::size_t>(y) * picture.bytesPerLine(), pixel(1, y + 1),
            picture.bytesPerLine());
    image = std::move(picture);
    return patch;
}

}  // namespace vintrix
