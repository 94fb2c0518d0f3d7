// vintrix-qt-images: the formats other than PNG, read with Qt's image
// readers and plugins. Built as a module that Vintrix loads when it first
// meets such a file; see qt_reader.h.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include "image_bytes.h"
#include "qt_reader.h"

namespace {

int fail(VintrixQtRead* read, const std::string& text)
{
    std::snprintf(read->error, sizeof read->error, "%s", text.c_str());
    return 2;
}

// Plugins log their complaints through Qt; Vintrix reports each failure
// itself, once.
void silence()
{
    static std::once_flag once;
    std::call_once(once, [] { qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); });
}

void limitAllocation(long long maxPixels)
{
    static std::once_flag once;
    std::call_once(once, [maxPixels] {
        // In MiB, where 0 would mean no limit at all.
        QImageReader::setAllocationLimit(static_cast<int>(std::max(1LL, maxPixels * 4 / (1024 * 1024))));
    });
}

int readImage(int fd, VintrixQtRead* read)
{
    // The file is mapped rather than read, so that its bytes can be checked
    // after decoding without a copy.
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return fail(read, "cannot decode image: " + file.errorString().toStdString());
    QByteArray bytes;
    if (const qint64 size = file.size(); size > 0) {
        if (const uchar* mapped = file.map(0, size))
            bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), static_cast<qsizetype>(size));
        else
            bytes = file.readAll();
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const std::string format = QImageReader::imageFormat(&buffer).toLower().toStdString();
    QImageReader reader(&buffer);
    const QSize announced = reader.size();
    if (announced.isValid() && !read->announced(read, announced.width(), announced.height()))
        return 1;
    QImage image = reader.read();
    if (image.isNull())
        return fail(read, "cannot decode image: " + reader.errorString().toStdString());
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    if (vintrix::endsEarly(format, data, static_cast<std::size_t>(bytes.size())))
        return fail(read, "cannot decode image: the file ends early");
    if (!read->announced(read, image.width(), image.height()))
        return 1;
    image = image.convertToFormat(QImage::Format_RGBA8888);
    if (image.isNull())
        return fail(read, "out of memory converting the image");
    if (format == "bmp")
        vintrix::widenChannels(image.bits(), static_cast<std::size_t>(image.width()) * image.height(),
            vintrix::bmpChannelBits(data, static_cast<std::size_t>(bytes.size())));
    unsigned char* out = read->pixels(read, image.width(), image.height());
    if (!out)
        return fail(read, "out of memory for the decoded image");
    const auto line = static_cast<std::size_t>(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(out + static_cast<std::size_t>(y) * line, image.constScanLine(y), line);
    return 0;
}

}  // namespace

extern "C" const char* vintrix_qt_formats()
{
    silence();
    static const std::string formats = [] {
        std::string list;
        for (const QByteArray& f : QImageReader::supportedImageFormats())
            list += f.toLower().toStdString() + ' ';
        return list;
    }();
    return formats.c_str();
}

extern "C" int vintrix_qt_read(int fd, long long maxPixels, VintrixQtRead* read)
{
    try {
        silence();
        limitAllocation(maxPixels);
        return readImage(fd, read);
    } catch (const std::exception& e) {
        return fail(read, std::string("cannot decode image: ") + e.what());
    }
}
