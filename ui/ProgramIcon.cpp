#include "ProgramIcon.h"

#include <QFile>
#include <QImage>
#include <QPixmap>

#include <png.h>

namespace vintrix {

namespace {

// The icons are PNG files of ours, decoded with libpng itself: Qt's image
// reader would first read the description of every image plugin installed,
// before the window could show.
QImage DecodeIcon(const QString& resource)
{
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
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

}  // namespace

QIcon ProgramIcon()
{
    QIcon icon;
    for (const char* size : {"16", "32", "48"}) {
        icon.addPixmap(
            QPixmap::fromImage(DecodeIcon(QStringLiteral(":/icons/vintrix-studio-%1.png").arg(QLatin1String(size)))));
    }
    return icon;
}

}  // namespace vintrix
