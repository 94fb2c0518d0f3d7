#include "sprite_sets.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <stdexcept>
#include <tuple>

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vintrix::bench {
namespace {

int uniform(std::mt19937& rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

QColor randomColour(std::mt19937& rng, int alpha)
{
    return QColor(uniform(rng, 0, 255), uniform(rng, 0, 255), uniform(rng, 0, 255), alpha);
}

}  // namespace

std::vector<vintrix::Size> spriteSizes(const SetSpec& sample)
{
    std::mt19937 rng(sample.seed);
    std::vector<vintrix::Size> sizes;
    for (int i = 0; i < sample.count; ++i) {
        if (sample.name == "A") {
            sizes.push_back({uniform(rng, 16, 128), uniform(rng, 16, 128)});
        } else if (sample.name == "B") {
            // A few backgrounds, some characters, many icons.
            if (i < 6)
                sizes.push_back({uniform(rng, 256, 512), uniform(rng, 192, 384)});
            else if (i < 60)
                sizes.push_back({uniform(rng, 48, 160), uniform(rng, 48, 160)});
            else
                sizes.push_back({uniform(rng, 12, 40), uniform(rng, 12, 40)});
        } else if (sample.name == "I") {
            const int side = 16 << uniform(rng, 0, 2);
            sizes.push_back({side, side});
        } else if (sample.name == "P") {
            sizes.push_back({uniform(rng, 8, 32) * 2, uniform(rng, 8, 32) * 2});
        } else if (sample.name == "S") {
            sizes.push_back({uniform(rng, 12, 40), uniform(rng, 12, 40)});
        } else if (sample.name == "C") {
            sizes.push_back({uniform(rng, 6, 24), uniform(rng, 6, 24)});
        } else {
            sizes.push_back({uniform(rng, 8, 96), uniform(rng, 8, 96)});
        }
    }
    return sizes;
}

namespace {

// Flat-colour icons: a few shapes in three or four solid colours, no
// antialiasing.
QImage flatIcon(std::mt19937& rng, int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setPen(Qt::NoPen);
    p.setBrush(randomColour(rng, 255));
    p.drawRoundedRect(QRect(0, 0, w, h), w / 6, h / 6);
    for (int k = uniform(rng, 1, 3); k > 0; --k) {
        p.setBrush(randomColour(rng, 255));
        const QRect r(
            uniform(rng, 1, w / 2), uniform(rng, 1, h / 2), uniform(rng, w / 4, w / 2), uniform(rng, h / 4, h / 2));
        if (uniform(rng, 0, 1) == 0)
            p.drawEllipse(r);
        else
            p.drawRect(r);
    }
    return img;
}

// Pixel art: a mirrored figure from a palette of eight colours at half size,
// scaled up by two without smoothing.
QImage pixelArt(std::mt19937& rng, int w, int h)
{
    QColor palette[8];
    for (QColor& c : palette)
        c = randomColour(rng, 255);
    QImage small(w / 2, h / 2, QImage::Format_ARGB32);
    small.fill(Qt::transparent);
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < (small.width() + 1) / 2; ++x) {
            const double dx = (x - small.width() / 2.0) / small.width(),
                         dy = (y - small.height() / 2.0) / small.height();
            if (dx * dx + dy * dy > 0.2 || uniform(rng, 0, 9) == 0)
                continue;
            const QRgb c = palette[uniform(rng, 0, 2) == 0 ? uniform(rng, 0, 7) : (y * 3 / small.height()) % 8].rgba();
            small.setPixel(x, y, c);
            small.setPixel(small.width() - 1 - x, y, c);
        }
    return small.scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

}  // namespace

void writeSprites(
    const std::string& folder, const std::vector<vintrix::Size>& sizes, std::uint32_t seed, const std::string& style)
{
    std::mt19937 rng(seed ^ 0x9e3779b9u);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto [w, h] = sizes[i];
        if (style == "I" || style == "P") {
            char name[32];
            std::snprintf(name, sizeof name, "/s%05zu.png", i);
            const QImage img = style == "I" ? flatIcon(rng, w, h) : pixelArt(rng, w, h);
            if (!img.save(QString::fromStdString(folder + name), "PNG"))
                throw std::runtime_error("cannot write " + folder + name);
            continue;
        }
        QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        {
            // A shaded body with soft edges, a darker outline and a highlight:
            // the colours and alpha ramps of ordinary sprites.
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            QLinearGradient g(0, 0, w, h);
            g.setColorAt(0, randomColour(rng, 255));
            g.setColorAt(1, randomColour(rng, uniform(rng, 160, 255)));
            p.setBrush(g);
            p.setPen(QPen(randomColour(rng, 255), std::max(1.0, std::min(w, h) / 16.0)));
            const QRectF body(0.5, 0.5, w - 1.0, h - 1.0);
            if (uniform(rng, 0, 2) == 0)
                p.drawEllipse(body);
            else if (uniform(rng, 0, 1) == 0)
                p.drawRoundedRect(body, w / 5.0, h / 5.0);
            else
                p.drawRect(body);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255, uniform(rng, 60, 160)));
            p.drawEllipse(QRectF(w * 0.2, h * 0.15, w * 0.3, h * 0.25));
        }
        char name[32];
        std::snprintf(name, sizeof name, "/s%05zu.png", i);
        if (!img.convertToFormat(QImage::Format_ARGB32).save(QString::fromStdString(folder + name), "PNG"))
            throw std::runtime_error("cannot write " + folder + name);
    }
}

void writeAnimationFrames(const std::string& folder, const AnimationSet& set)
{
    std::mt19937 rng(set.seed);
    const int cw = set.canvas.w, ch = set.canvas.h;
    for (int c = 0; c < set.characters; ++c) {
        const int w = uniform(rng, cw * 3 / 10, cw * 3 / 4), h = uniform(rng, ch * 2 / 5, ch * 17 / 20);
        const QColor body = randomColour(rng, 255), limbs = randomColour(rng, 255), outline = randomColour(rng, 255);
        for (int f = 0; f < set.frames; ++f) {
            const bool held = c % 2 == 0 && f < 4;
            const double phase = held ? 0 : 2 * std::numbers::pi * f / set.frames;
            const double swing = 0.6 * std::sin(phase);
            const double x0 = (cw - w) / 2.0 + std::cos(phase) * (cw - w) / 5.0;
            const double y0 = (ch - h) / 2.0 + (held ? f * 3 : std::abs(std::cos(phase)) * (ch - h) / 6.0);
            QImage img(cw, ch, QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::transparent);
            {
                QPainter p(&img);
                p.setRenderHint(QPainter::Antialiasing);
                p.translate(x0, y0);
                p.setPen(QPen(outline, std::max(1.0, w / 24.0)));
                // Limbs first, swinging from the shoulders and the hips.
                p.setBrush(limbs);
                for (const auto& [ax, ay, angle] :
                    {std::tuple{w * 0.2, h * 0.35, swing}, std::tuple{w * 0.8, h * 0.35, -swing},
                        std::tuple{w * 0.35, h * 0.7, -swing}, std::tuple{w * 0.65, h * 0.7, swing}}) {
                    p.save();
                    p.translate(ax, ay);
                    p.rotate(angle * 180 / std::numbers::pi);
                    p.drawRoundedRect(QRectF(-w * 0.07, 0, w * 0.14, h * 0.3), w * 0.05, w * 0.05);
                    p.restore();
                }
                QLinearGradient g(0, 0, w, h);
                g.setColorAt(0, body.lighter(130));
                g.setColorAt(1, body.darker(130));
                p.setBrush(g);
                p.drawEllipse(QRectF(w * 0.2, h * 0.25, w * 0.6, h * 0.5));
                p.drawEllipse(QRectF(w * 0.3, 0.5, w * 0.4, h * 0.25));
            }
            char name[32];
            std::snprintf(name, sizeof name, "/c%02d_%02d.png", c, f);
            if (!img.convertToFormat(QImage::Format_ARGB32).save(QString::fromStdString(folder + name), "PNG"))
                throw std::runtime_error("cannot write " + folder + name);
        }
    }
}

}  // namespace vintrix::bench
