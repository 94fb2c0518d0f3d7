#include "ProgramIcon.h"

#include <QImageReader>
#include <QPixmap>

namespace vintrix {

QIcon ProgramIcon()
{
    // The icons are PNG files of known size: reading them as such spares the
    // reader asking every image plugin installed whether it knows the format,
    // which loads them all and costs a window's start-up several milliseconds.
    QIcon icon;
    for (const char* size : {"16", "32", "48"}) {
        QImageReader reader(QStringLiteral(":/icons/vintrix-studio-%1.png").arg(QLatin1String(size)), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

}  // namespace vintrix
