// Writes the seed inputs of every fuzzer into SEEDS/<fuzzer>/: small valid
// images of each format Vintrix reads, command lines, size lists and names.
// Usage: make_seeds SEEDS
#include <cstdio>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

namespace {

QString g_root;
int g_failures = 0;

void seed(const char* fuzzer, const QString& name, const QByteArray& bytes)
{
    QDir().mkpath(g_root + "/" + fuzzer);
    QFile f(g_root + "/" + fuzzer + "/" + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", qPrintable(f.fileName()));
        ++g_failures;
    }
}

QImage sprite(int w, int h, QImage::Format format = QImage::Format_RGBA8888)
{
    QImage img(w, h, QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor(x * 40 % 256, y * 60 % 256, (x ^ y) * 20 % 256, (x + y) % 3 ? 255 : 0));
    return img.convertToFormat(format);
}

QByteArray encode(const QImage& img, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::WriteOnly) && img.save(&buffer, format) ? bytes : QByteArray();
}

}  // namespace

int main(int argc, char** argv)
{
    // An image file for image_decode_fuzz: its first byte picks the extension,
    // 0 png, 1 bmp, 2 gif, 3 jpg, 4 webp, 5 tga, 6 tif; +64 adds a margin.
    const auto image = [](char selector, const QByteArray& file) { return QByteArray(1, selector) + file; };
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds SEEDS\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);

    const std::pair<char, const char*> kinds[] = {{0, "png"}, {1, "bmp"}, {3, "jpg"}, {4, "webp"}, {6, "tif"}};
    int n = 0;
    for (const auto& [selector, format] : kinds)
        for (QImage::Format f :
            {QImage::Format_RGBA8888, QImage::Format_RGB888, QImage::Format_Indexed8, QImage::Format_Grayscale8}) {
            const QByteArray bytes = encode(sprite(5 + n % 4, 3 + n % 5, f), format);
            if (!bytes.isEmpty())
                seed("image_decode_fuzz", QString("%1-%2").arg(format).arg(n), image(selector, bytes));
            ++n;
        }
    // Qt reads GIF and TGA but cannot write them. A 2x2 GIF with a 2-colour
    // table (red, blue), colour 1 transparent, one LZW block.
    const QByteArray gif("GIF89a\2\0\2\0\x80\0\0\xff\0\0\0\0\xff!\xf9\4\1\0\0\1\0,\0\0\0\0\2\0\2\0\0\2\2\x84Q\0;", 43);
    seed("image_decode_fuzz", "gif", image(2, gif));
    seed("image_decode_fuzz", "gif-margin", image(2 + 64, gif));
    seed("image_decode_fuzz", "png-as-bmp", image(1, encode(sprite(4, 4), "png")));
    QByteArray huge = encode(sprite(2, 2), "png");
    huge[18] = 0x7F;  // a header that claims a width of 0x7F0002
    seed("image_decode_fuzz", "png-huge-header", image(0, huge));
    // 2x1 32-bit pixels, top-left origin, uncompressed and run-length encoded.
    const QByteArray tgaHeader("\0\0\x02\0\0\0\0\0\0\0\0\0\x02\0\x01\0\x20\x28", 18);
    seed("image_decode_fuzz", "tga", image(5, tgaHeader + "\x10\x20\x30\xff\x40\x50\x60\x80"));
    seed(
        "image_decode_fuzz", "tga-rle", image(5, QByteArray(tgaHeader).replace(2, 1, "\x0a") + "\x81\x10\x20\x30\xff"));

    const auto args = [](const QByteArrayList& list) { return list.join('\0'); };
    seed("packer_args_fuzz", "png", args({"64", "64", "sheet", "32", "1", "0", "/tmp"}));
    seed("packer_args_fuzz", "bmp8", args({"256", "128", "a b", "8", "0", "3", "/"}));
    seed("packer_args_fuzz", "huge-bmp", args({"65536", "65536", "n", "32", "0", "0", "/tmp"}));
    seed("packer_args_fuzz", "six", args({"64", "64", "n", "32", "1", "0"}));
    seed("packer_args_fuzz", "help", args({"--help"}));
    seed("packer_args_fuzz", "version", args({"--version"}));
    seed("packer_args_fuzz", "margin", args({"9", "64", "x", "32", "1", "4", "/no such\nfolder"}));

    for (int i = 0; i < 6; ++i) {
        QByteArray b;
        for (int k = 0; k < 12 + 40 * i; ++k)
            b += static_cast<char>((k * 37 + i * 11) & 0xFF);
        seed("packer_pack_fuzz", QString("sizes-%1").arg(i), b);
    }

    seed("atlas_json_fuzz", "names", QByteArray("a.png/b c.png/\xc3\xa4.png/quote\"d.png/tab\t.png/bad\xff.png"));
    seed("atlas_json_fuzz", "control", QByteArray("\x01\x1f\x7f/\\u0000/\xef\xbf\xbd.png/\xed\xa0\x80.png"));

    auto utf16 = [](const QString& s) { return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2); };
    seed("settings_fuzz", "plain", utf16("Vintrix"));
    seed("settings_fuzz", "folder", utf16(QString("sheet") + QChar(0) + "home/u/art"));
    seed("settings_fuzz", "hostile", utf16(QString("x$(touch p)'\"") + QChar(0) + "a; b\n`c`"));
    seed("settings_fuzz", "numbers", utf16(" 1.5e3 "));
    return g_failures ? 1 : 0;
}
