// Vintrix's pixel options through the real program: trimming, rotation,
// extrusion, bleeding, premultiplied alpha and the sheet's size, alone and
// together. Every frame is read back from the decoded sheet, turned back,
// put at its place in the original image and compared with its source.

#include <algorithm>
#include <bit>
#include <random>
#include <tuple>

#include <QPainter>

#include "VintrixFolder.h"

namespace vintrix::test {

// A core of one colour with random alpha, its corners opaque, inside
// transparent borders whose pixels carry stray colours, a few of them
// faintly visible (alpha 10).
QImage BorderedSprite(std::mt19937& rng, QSize core, QMargins border, QColor colour, bool faint)
{
    QImage img(core.grownBy(border), QImage::Format_RGBA8888);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QPoint at(x - border.left(), y - border.top());
            int alpha = 0;
            if (QRect(QPoint(), core).contains(at))
                alpha = (at.x() + at.y()) % 4 == 0 ? 0 : (at.x() % 3 == 0 ? byte(rng) : 255);
            else if (faint && byte(rng) < 8)
                alpha = 10;
            if (at == QPoint(0, 0) || at == QPoint(core.width() - 1, core.height() - 1))
                alpha = 255;
            const QColor c = alpha > 0 ? colour : QColor(byte(rng), byte(rng), byte(rng));
            img.setPixelColor(x, y, QColor(c.red(), c.green(), c.blue(), alpha));
        }
    return img;
}

struct PixelCase {
    const char* label;
    int width, height, margin, format;
    QStringList options;
    Data data = Data::JsonHash;
};

// Sprites of every kind the pixel options treat apart, each with the one
// colour of its visible pixels.
class PixelSprites : public VintrixFolder {
protected:
    struct Source {
        QImage image;
        QColor colour;  // of every visible pixel
    };

    void SetUp() override
    {
        VintrixFolder::SetUp();
        std::mt19937 rng(11);
        std::uniform_int_distribution<int> side(3, 24), edge(0, 6), byte(0, 255);
        for (int i = 0; i < 14; ++i) {
            const QColor colour(byte(rng), byte(rng), byte(rng));
            add(QString("s%1.png").arg(i),
                BorderedSprite(
                    rng, {side(rng), side(rng)}, {edge(rng), edge(rng), edge(rng), edge(rng)}, colour, i % 3 == 0),
                colour);
        }
        // Fits a narrow sheet only rotated.
        add("wide.png", BorderedSprite(rng, {90, 5}, {2, 1, 0, 3}, Qt::green, false), Qt::green);
        // The same pixels in different borders: one region, two offsets.
        const QImage a = BorderedSprite(rng, {9, 7}, {1, 4, 2, 0}, Qt::blue, false);
        add("dup_a.png", a, Qt::blue);
        add("dup_b.png", a.copy(-4, 4, 14, 10), Qt::blue);  // the core at 5,0; zero beyond `a`
        add("empty.png", FlatSprite(7, 5, Qt::transparent), Qt::black);
        // The same bytes as a 2 x 3 and a 3 x 2 image: two images, not one.
        QImage tall(2, 3, QImage::Format_RGBA8888);
        for (int i = 0; i < 6; ++i)
            tall.setPixel(i % 2, i / 2, qRgba(40 * i, 255 - 40 * i, 90, 255));
        const QImage wide(tall.constBits(), 3, 2, QImage::Format_RGBA8888);
        add("tall.png", tall, Qt::red);
        add("transposed.png", wide.copy(), Qt::red);
        // A nine-patch, whose frame is its picture without the guides.
        const QImage picture = BorderedSprite(rng, {7, 5}, {}, Qt::magenta, false);
        save(NinePatch(picture, QMargins(1, 2, 3, 1), QMargins(2, 1, 1, 1)), "button.9.png");
        sources_["button.9.png"] = {picture, Qt::magenta};
    }

    void add(const QString& name, const QImage& image, QColor colour)
    {
        save(image, name);
        sources_[name] = {image, colour};
    }

    std::map<QString, Source> sources_;
};

class Pixels : public PixelSprites, public ::testing::WithParamInterface<PixelCase> {};

TEST_P(Pixels, EveryFrameShowsItsSpriteAsTheDataDescribesIt)
{
    const PixelCase& c = GetParam();
    const auto has = [&](const char* option) { return c.options.contains(option); };
    // The value after `option`; 0 without it, as the first option is no number.
    const auto number = [&](const char* option) { return c.options.value(c.options.indexOf(option) + 1).toInt(); };
    const int threshold = number("--trim-threshold"), border = number("--extrude");
    const auto runPack = [&] { return pack(c.width, c.height, "n", 32, c.format, c.margin, {}, c.options); };
    const RunResult r = runPack();
    ASSERT_TRUE(Ran(r));
    EXPECT_EQ(r.err, "");

    const Atlas atlas = ReadAtlas(path("Output"), "n", c.data);
    ASSERT_EQ(atlas.error, "");
    ASSERT_EQ(atlas.frames.size(), sources_.size());
    std::map<QString, QImage> sheets;
    std::map<QString, QSize> content;         // the box around each sheet's regions and the margin after them
    std::map<QString, QList<QRect>> regions;  // on each sheet, once for identical images
    // A CSS class and a Godot resource are named without the extension.
    const bool withoutExtensions = c.data == Data::Css || c.data == Data::Godot;
    const auto frameOf = [&](const QString& file) {
        return atlas.frames.at(withoutExtensions ? file.chopped(4) : file);
    };
    for (const auto& [key, frame] : atlas.frames) {
        const QString name = withoutExtensions ? key + ".png" : key;
        SCOPED_TRACE(name.toStdString());
        const QImage& source = sources_.at(name).image;
        QImage& sheet = sheets[frame.sheet];
        if (sheet.isNull())
            sheet = QImage(path("Output/" + frame.sheet)).convertToFormat(QImage::Format_RGBA8888);
        const QRect region(frame.rect.topLeft(), frame.rotated ? frame.rect.size().transposed() : frame.rect.size());
        // Grown by the margin, it lies on the sheet (and meets no other region: below).
        ASSERT_TRUE(sheet.rect().contains(region.adjusted(-c.margin, -c.margin, c.margin, c.margin)));
        if (!regions[frame.sheet].contains(region))
            regions[frame.sheet] << region;
        content[frame.sheet] =
            content[frame.sheet].expandedTo(QSize(region.right() + 1 + c.margin, region.bottom() + 1 + c.margin));

        QRect kept = has("--trim") ? QRect() : source.rect();
        for (int y = 0; has("--trim") && y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                if (source.pixelColor(x, y).alpha() > threshold)
                    kept |= QRect(x, y, 1, 1);
        if (kept.isEmpty())
            kept = QRect(0, 0, 1, 1);
        EXPECT_EQ(frame.sourceSize, source.size());
        ASSERT_EQ(frame.source, kept);
        EXPECT_EQ(frame.trimmed, kept != source.rect());
        ASSERT_EQ(frame.rect.size(), kept.size());

        const QImage turnedBack = StoredImage(sheet, frame, c.data);
        const QColor colour = sources_.at(name).colour;
        for (int y = kept.top(); y <= kept.bottom(); ++y)
            for (int x = kept.left(); x <= kept.right(); ++x) {
                const QRgb want = source.pixel(x, y);
                const QRgb expected = has("--premultiply") ? qPremultiply(want)
                    : qAlpha(want) == 0 && has("--bleed")  ? qRgba(colour.red(), colour.green(), colour.blue(), 0)
                                                           : want;
                ASSERT_EQ(turnedBack.pixel(x, y), expected) << "at " << x << "," << y;
            }

        // Each edge pixel repeated outwards, corners included.
        for (int y = region.top() - border; y <= region.bottom() + border; ++y)
            for (int x = region.left() - border; x <= region.right() + border; ++x) {
                const QPoint nearest(
                    std::clamp(x, region.left(), region.right()), std::clamp(y, region.top(), region.bottom()));
                ASSERT_EQ(sheet.pixel(x, y), sheet.pixel(nearest)) << "extruded at " << x << "," << y;
            }
    }

    for (const auto& [file, placed] : regions) {
        QImage bare = sheets[file];  // without the regions and their extruded edges
        QPainter clear(&bare);
        clear.setCompositionMode(QPainter::CompositionMode_Clear);
        for (qsizetype i = 0; i < placed.size(); ++i) {
            for (qsizetype j = 0; j < i; ++j)
                EXPECT_FALSE(placed[j].adjusted(-c.margin, -c.margin, c.margin, c.margin).intersects(placed[i]))
                    << "two frames on " << file.toStdString() << " come closer than the margin";
            clear.fillRect(placed[i].adjusted(-border, -border, border, border), Qt::transparent);
        }
        clear.end();
        for (int y = 0; y < bare.height(); ++y)
            for (int x = 0; x < bare.width(); ++x)
                ASSERT_EQ(qAlpha(bare.pixel(x, y)), 0)
                    << file.toStdString() << " outside the frames at " << x << "," << y;
    }
    for (const auto& [file, sheet] : sheets) {
        const QSize box = content[file],
                    potBox(std::bit_ceil(unsigned(box.width())), std::bit_ceil(unsigned(box.height())));
        EXPECT_EQ(sheet.size(), atlas.sheets.at(file)) << file.toStdString();
        EXPECT_EQ(sheet.size(),
            !has("--shrink")   ? QSize(c.width, c.height)
                : has("--pot") ? potBox
                               : box)
            << file.toStdString();
    }
    if (has("--trim")) {
        EXPECT_EQ(frameOf("dup_a.png").rect, frameOf("dup_b.png").rect);
        EXPECT_NE(frameOf("dup_a.png").source, frameOf("dup_b.png").source);
    }
    if (c.width < 90)
        EXPECT_TRUE(frameOf("wide.png").rotated);
    expectSameBytesAgain(runPack);
}

const PixelCase kPixels[] = {{"trim", 128, 128, 0, 1, {"--trim"}},
    {"trimThreshold", 128, 128, 1, 1, {"--trim", "--trim-threshold", "16"}}, {"rotate", 48, 400, 1, 1, {"--rotate"}},
    {"extrudeAndBleed", 128, 128, 2, 1, {"--extrude", "1", "--bleed"}},
    {"premultiply", 128, 128, 0, 1, {"--premultiply"}}, {"shrinkToPowersOfTwo", 256, 256, 1, 1, {"--shrink", "--pot"}},
    {"allInBmp", 48, 512, 4, 0, {"--trim", "--rotate", "--extrude", "2", "--bleed", "--shrink"}},
    {"allInLibgdx", 48, 512, 2, 1, {"--data", "libgdx", "--trim", "--rotate", "--extrude", "1", "--bleed", "--shrink"},
        Data::Libgdx},
    {"allInPhaser3", 48, 512, 0, 1, {"--data", "phaser3", "--trim", "--rotate", "--shrink"}, Data::Phaser3},
    {"allInStarling", 48, 512, 2, 1,
        {"--data", "starling", "--trim", "--rotate", "--extrude", "1", "--bleed", "--shrink"}, Data::Starling},
    {"allInCss", 128, 256, 2, 1, {"--data", "css", "--extrude", "1", "--bleed", "--shrink"}, Data::Css},
    {"allInGodot", 128, 256, 2, 1, {"--data", "godot", "--trim", "--extrude", "1", "--bleed", "--shrink"}, Data::Godot},
    {"allPremultiplied", 64, 256, 2, 1,
        {"--trim", "--trim-threshold", "16", "--rotate", "--premultiply", "--extrude", "1", "--shrink", "--pot"}}};

INSTANTIATE_TEST_SUITE_P(Options, Pixels, ::testing::ValuesIn(kPixels), ByLabel);

// --variant: the layout of the first variant, the largest, scaled for
// each of the others, frame for frame and sheet for sheet; each frame's
// pixels close to Qt's smooth scaling of its sprite (padded to whole pixels
// at every scale), compared premultiplied, as a transparent pixel's colour
// is nobody's business.
struct VariantCase {
    const char* label;
    int width, height, margin;
    QStringList options;
    std::vector<std::pair<QString, double>> variants;  // NAME+SUFFIX and scale, as the options give them
    QStringList files;                                 // in Output
    Data data = Data::JsonHash;
};

class Variants : public PixelSprites, public ::testing::WithParamInterface<VariantCase> {};

QRect Scaled(QRect r, double scale)
{
    return QRect(qRound(r.x() * scale), qRound(r.y() * scale), qRound(r.width() * scale), qRound(r.height() * scale));
}

TEST_P(Variants, AreTheFirstsLayoutScaledWithTheirSpritesResampled)
{
    const VariantCase& c = GetParam();
    writeBytes("sprites/vintrix.toml", "[sprites.\"wide.png\"]\npivot = [0.5, 1.0]\n");  // 92x9 pixels
    ASSERT_TRUE(Ran(pack(c.width, c.height, "n", 32, 1, c.margin, {}, c.options)));
    EXPECT_EQ(Names(output()), c.files);

    const auto [firstName, firstScale] = c.variants[0];
    const Atlas first = ReadAtlas(path("Output"), firstName, c.data);
    ASSERT_EQ(first.error, "");
    ASSERT_EQ(first.frames.size(), sources_.size());
    int worst = 0;
    for (const auto& [name, scale] : c.variants) {
        SCOPED_TRACE(name.toStdString());
        const double ratio = scale / firstScale;
        const Atlas atlas = ReadAtlas(path("Output"), name, c.data);
        ASSERT_EQ(atlas.error, "");
        ASSERT_EQ(atlas.sheets.size(), first.sheets.size());
        for (auto [sheet, size] = std::pair(atlas.sheets.begin(), first.sheets.begin()); sheet != atlas.sheets.end();
             ++sheet, ++size) {
            EXPECT_EQ(sheet->second, QSize(int(size->second.width() * ratio), int(size->second.height() * ratio)));
            EXPECT_EQ(QImage(path("Output/" + sheet->first)).size(), sheet->second);
        }
        if (c.data == Data::JsonHash)  // the pivot on the same pixel of the sprite, padded or not
            EXPECT_EQ(atlas.frames.at("wide.png").pivot.value_or(QPointF()) / scale, QPointF(46, 9));
        if (c.data == Data::JsonHash || c.data == Data::JsonArray)
            EXPECT_EQ(json("Output/" + name + ".json")["meta"].toObject()["scale"].toString(), QString::number(scale));
        for (const auto& [key, frame] : atlas.frames) {
            SCOPED_TRACE(key.toStdString());
            const Frame& large = first.frames.at(key);
            EXPECT_EQ(frame.rect, Scaled(large.rect, ratio));
            EXPECT_EQ(frame.source, Scaled(large.source, ratio));
            EXPECT_EQ(frame.sourceSize, Scaled(QRect(QPoint(), large.sourceSize), ratio).size());
            EXPECT_EQ(frame.rotated, large.rotated);

            // The sprite on the canvas it was padded to, scaled.
            const QImage& source = sources_.at(key).image;
            const QSize padded = Scaled(QRect(QPoint(), frame.sourceSize), 1 / scale).size();
            ASSERT_TRUE(QRect(QPoint(), padded).contains(source.rect()));
            QImage canvas(padded, QImage::Format_RGBA8888_Premultiplied);
            canvas.fill(Qt::transparent);
            QPainter(&canvas).drawImage(0, 0, source);
            const QImage want = canvas.scaled(frame.sourceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const QImage stored = StoredImage(QImage(path("Output/" + frame.sheet)), frame, c.data);
            // --premultiply stores the premultiplied colours as they are.
            const QImage got = c.options.contains("--premultiply")
                ? QImage(stored.constBits(), stored.width(), stored.height(), QImage::Format_RGBA8888_Premultiplied)
                      .copy()
                : stored.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            ASSERT_EQ(got.size(), want.size());
            for (int y = 0; y < got.height(); ++y)
                for (int x = 0; x < got.width(); ++x)
                    worst = std::max(worst, ChannelError(got.pixel(x, y), want.pixel(x, y)));
        }
    }
    EXPECT_LE(worst, 2);
}

const VariantCase kVariants[] = {{"halfOfTwice", 128, 128, 1, {"--variant", "1:@2x", "--variant", "0.5"},
                                     {{"n@2x", 1}, {"n", 0.5}}, {"n.json", "n.png", "n@2x.json", "n@2x.png"}},
    {"threeTrimmedRotatedShrunk", 48, 512, 2,
        {"--trim", "--rotate", "--shrink", "--data", "json-array", "--variant", "1", "--variant", "0.75:-3q",
            "--variant", "0.25:_q"},
        {{"n", 1}, {"n-3q", 0.75}, {"n_q", 0.25}}, {"n-3q.json", "n-3q.png", "n.json", "n.png", "n_q.json", "n_q.png"},
        Data::JsonArray},
    {"libgdxPremultipliedExtruded", 128, 128, 2,
        {"--data", "libgdx", "--premultiply", "--extrude", "1", "--variant", "0.5:@1x", "--variant", "0.25"},
        {{"n@1x", 0.5}, {"n", 0.25}}, {"n.atlas", "n.png", "n@1x.atlas", "n@1x.png"}, Data::Libgdx}};

INSTANTIATE_TEST_SUITE_P(Options, Variants, ::testing::ValuesIn(kVariants), ByLabel);

// --shrink lays the last sheet, which holds what the full sheets before it
// left, out again on the smallest sheet that holds its images. The bound it
// is measured against is the smallest sheet (least area, then squarest,
// then wider) with what any sheet that holds them needs: room for the
// widest and the highest inside the margins, and the images' area with a
// margin each; for equal squares, a grid of them all, which is exact.
struct ShrinkCase {
    const char* label;
    int count, minSide, maxSide;  // sprites with random sides in this range
    int margin;
    bool pot;
    int sheets;
    double slack;  // how much larger than the bound the last sheet may be; 1: the bound itself
};

class ShrunkSheet : public VintrixFolder, public ::testing::WithParamInterface<ShrinkCase> {};

TEST_P(ShrunkSheet, IsTheSmallestThatHoldsTheLastSheetsImages)
{
    const ShrinkCase& c = GetParam();
    const int side = 256, m = c.margin;
    std::mt19937 rng(c.count);
    std::uniform_int_distribution<int> length(c.minSide, c.maxSide);
    for (int i = 0; i < c.count; ++i)
        save(RandomSprite(rng, length(rng), length(rng)), QString("s%1.png").arg(i));
    ASSERT_TRUE(
        Ran(pack(side, side, "n", 32, 1, m, {}, c.pot ? QStringList{"--shrink", "--pot"} : QStringList{"--shrink"})));
    EXPECT_EQ(FramesDiffer(path("Output"), "n", path("sprites")), "");

    const Atlas atlas = ReadAtlas(path("Output"), "n");
    ASSERT_EQ(atlas.sheets.size(), std::size_t(c.sheets));
    const QString last = c.sheets == 1 ? "n.png" : QString("n-%1.png").arg(c.sheets);
    const QSize got = atlas.sheets.at(last);
    std::int64_t count = 0, needed = 0;
    int widest = 0, highest = 0;
    for (const auto& [name, frame] : atlas.frames)
        if (frame.sheet == last) {  // inside the margins, as the pixel test checks
            ++count;
            needed += std::int64_t(frame.rect.width() + m) * (frame.rect.height() + m);
            widest = std::max(widest, frame.rect.width());
            highest = std::max(highest, frame.rect.height());
        }
    const auto area = [](QSize s) { return std::int64_t(s.width()) * s.height(); };
    const auto smaller = [&](QSize a, QSize b) {
        const auto longer = [](QSize s) { return std::max(s.width(), s.height()); };
        return std::tuple(area(a), longer(a), -a.width()) < std::tuple(area(b), longer(b), -b.width());
    };
    const int square = c.minSide + m;
    QSize bound;
    for (int w = widest + 2 * m; w <= side; ++w)
        for (int h = highest + 2 * m; h <= side; ++h) {
            const bool room = c.minSide == c.maxSide ? std::int64_t((w - m) / square) * ((h - m) / square) >= count
                                                     : std::int64_t(w - m) * (h - m) >= needed;
            if (room && (!c.pot || (std::has_single_bit(unsigned(w)) && std::has_single_bit(unsigned(h)))) &&
                (bound.isEmpty() || smaller(QSize(w, h), bound)))
                bound = QSize(w, h);
        }
    EXPECT_GE(area(got), area(bound));
    EXPECT_LE(area(got), c.slack * area(bound)) << "against " << bound.width() << "x" << bound.height();
    if (c.slack == 1)
        EXPECT_EQ(got, bound);
}

const ShrinkCase kShrunkSheet[] = {{"squares", 30, 16, 16, 0, false, 1, 1},
    {"squaresToPowersOfTwo", 30, 16, 16, 0, true, 1, 1}, {"squaresWithMargin", 30, 14, 14, 2, false, 1, 1},
    {"leftOver", 100, 12, 40, 2, false, 2, 1.15}, {"leftOverToPowersOfTwo", 100, 12, 40, 2, true, 2, 1}};

INSTANTIATE_TEST_SUITE_P(Sets, ShrunkSheet, ::testing::ValuesIn(kShrunkSheet), ByLabel);

}  // namespace vintrix::test
