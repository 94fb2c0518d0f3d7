#include "ProgramIcon.h"

#include <QImage>
#include <QPixmap>
#include <QResource>

#include <png.h>

#include <array>

namespace vintrix {

namespace {

// The icons are PNG files of ours, decoded with libpng itself: Qt's image
// reader would first read the description of every image plugin installed,
// before the window could show.
QImage DecodeIcon(const QString& resource)
{
    const QByteArray bytes = QResource(resource).uncompressedData();
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.constData(), static_cast<std::size_t>(bytes.size())))
        return {};
    png.format = PNG_FORMAT_RGBA;
    QImage image(static_cast<int>(png.width), static_cast<int>(png.height), QImage::Format_RGBA8888);
    if (image.isNull() ||
        !png_image_finish_read(&png, nullptr, image.bits(), static_cast<png_int_32>(image.bytesPerLine()), nullptr)) {
        png_image_free(&png);
        return {};
    }
    return image;
}

// Decoded once, by whichever thread asks first.
const std::array<QImage, 3>& IconImages()
{
    static const std::array<QImage, 3> images{DecodeIcon(QStringLiteral(":/icons/vintrix-studio-16.png")),
        DecodeIcon(QStringLiteral(":/icons/vintrix-studio-32.png")),
        DecodeIcon(QStringLiteral(":/icons/vintrix-studio-48.png"))};
    return images;
}

}  // namespace

void DecodeProgramIcon()
{
    IconImages();
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (const QImage& image : IconImages())
        icon.addPixmap(QPixmap::fromImage(image));
    return icon;
}

}  // namespace vintrix
