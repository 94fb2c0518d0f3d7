#include "sprite_sets.h"

#include <cstdio>
#include <random>
#include <stdexcept>

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vintrix::bench {
namespace {

int uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

QColor randomColour(std::mt19937& rng, int alpha) {
    return QColor(uniform(rng, 0, 255), uniform(rng, 0, 255), uniform(rng, 0, 255), alpha);
}

}  // namespace

std::vector<vintrix::Size> spriteSizes(const SetSpec& sample) {
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
        } else if (sample.name == "C") {
            sizes.push_back({uniform(rng, 6, 24), uniform(rng, 6, 24)});
        } else {
            sizes.push_back({uniform(rng, 8, 96), uniform(rng, 8, 96)});
        }
    }
    return sizes;
}

void writeSprites(const std::string& folder, const std::vector<vintrix::Size>& sizes, std::uint32_t seed) {
    std::mt19937 rng(seed ^ 0x9e3779b9u);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto [w, h] = sizes[i];
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

}  // namespace vintrix::bench
