// Writes the seed inputs of every fuzzer into SEEDS/<fuzzer>/: small valid
// images of each format Vintrix reads, command lines, size lists and names.
// Usage: make_seeds SEEDS
#include <cstdio>
#include <string>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>

namespace {

QString g_root;
int g_failures = 0;

void seed(const char* fuzzer, const QString& name, const QByteArray& bytes)
{
    const QString dir = g_root + "/" + fuzzer;
    QDir().mkpath(dir);
    QFile f(dir + "/" + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", qPrintable(f.fileName()));
        ++g_failures;
    }
}

QImage sprite(int w, int h, QImage::Format format)
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
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(img))
        return {};
    return bytes;
}

// The smallest sensible GIF: a 2x2 picture with a 2-colour table, one LZW
// block, one transparent colour. Qt reads GIF but cannot write it.
QByteArray tinyGif()
{
    const unsigned char bytes[] = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0,
        0,                                   // screen 2x2, global table of 2
        0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF,  // red, blue
        0x21, 0xF9, 4, 0x01, 0, 0, 1, 0,     // graphic control: colour 1 transparent
        0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0,     // image at 0,0 of 2x2
        2, 2, 0x84, 0x51, 0,                 // LZW: min code size 2, one block
        0x3B};
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

QByteArray withSelector(char selector, const QByteArray& file)
{
    return QByteArray(1, selector) + file;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds SEEDS\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);

    // The selector byte picks the extension: 0 png, 1 bmp, 2 gif, 3 jpg,
    // 4 webp, 5 tga, 6 tif (see image_decode_fuzz.cpp); +64 adds a margin.
    const struct {
        char selector;
        const char* format;
    } kinds[] = {{0, "png"}, {1, "bmp"}, {3, "jpg"}, {4, "webp"}, {6, "tif"}};
    int n = 0;
    for (const auto& k : kinds)
        for (QImage::Format f :
            {QImage::Format_RGBA8888, QImage::Format_RGB888, QImage::Format_Indexed8, QImage::Format_Grayscale8}) {
            const QByteArray bytes = encode(sprite(5 + n % 4, 3 + n % 5, f), k.format);
            if (!bytes.isEmpty())
                seed("image_decode_fuzz", QString("%1-%2").arg(k.format).arg(n), withSelector(k.selector, bytes));
            ++n;
        }
    seed("image_decode_fuzz", "gif", withSelector(2, tinyGif()));
    seed("image_decode_fuzz", "gif-margin", withSelector(2 + 64, tinyGif()));
    seed("image_decode_fuzz", "png-as-bmp", withSelector(1, encode(sprite(4, 4, QImage::Format_RGBA8888), "png")));
    {
        // A header that claims far more pixels than the sheet holds.
        QByteArray png = encode(sprite(2, 2, QImage::Format_RGBA8888), "png");
        png[18] = 0x7F;  // width 0x7F0002
        seed("image_decode_fuzz", "png-huge-header", withSelector(0, png));
    }
    // Qt reads TGA but cannot write it: 2x1 32-bit pixels, top-left origin,
    // uncompressed and run-length encoded.
    const QByteArray tgaHeader("\0\0\x02\0\0\0\0\0\0\0\0\0\x02\0\x01\0\x20\x28", 18);
    seed("image_decode_fuzz", "tga", withSelector(5, tgaHeader + "\x10\x20\x30\xff\x40\x50\x60\x80"));
    seed("image_decode_fuzz", "tga-rle",
        withSelector(5, QByteArray(tgaHeader).replace(2, 1, "\x0a") + "\x81\x10\x20\x30\xff"));

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
