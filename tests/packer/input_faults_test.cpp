// Hostile and unusual input folders, run through the real Vintrix: images
// that would take more memory than a run may, files cut short, formats as
// common tools write them, names that would break a message, and entries
// that cannot be read as images.
#include "VintrixFolder.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtEndian>

#include <zlib.h>

namespace vintrix::test {

void le16(QByteArray& b, unsigned v)
{
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void le32(QByteArray& b, std::uint32_t v)
{
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}

// The colour of pixel (x, y) in the generated TGA and GIF files.
QRgb pattern(int x, int y)
{
    return qRgb(x * 16, y * 16, 100);
}

// A 32-bit TGA with its origin top left and no 2.0 footer, as most tools
// write it; run-length encoded as one raw packet a pixel when asked.
QByteArray tga(int w, int h, bool rle)
{
    QByteArray b;
    b.append('\0').append('\0').append(char(rle ? 10 : 2)).append(QByteArray(5, '\0'));
    le16(b, 0), le16(b, 0), le16(b, w), le16(b, h);
    b.append(char(32)).append(char(0x28));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (rle)
                b.append('\0');
            const QRgb c = pattern(x, y);
            b.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append(char(0xFF));
        }
    return b;
}

// A GIF whose 128-colour palette holds pattern(i, 0); pixel (x, y) is entry
// (x + y) % 128. Its LZW codes stay 8 bits wide thanks to a clear code
// every 126 pixels, so they can be written without an encoder.
QByteArray gif(int w, int h)
{
    QByteArray b("GIF89a");
    le16(b, w), le16(b, h);
    b.append(char(0xF6)).append('\0').append('\0');
    for (int i = 0; i < 128; ++i)
        b.append(char(qRed(pattern(i, 0)))).append(char(qGreen(pattern(i, 0)))).append(char(qBlue(pattern(i, 0))));
    b.append(char(0x2C));
    le16(b, 0), le16(b, 0), le16(b, w), le16(b, h);
    b.append('\0').append(char(7));
    QByteArray codes;
    for (int i = 0; i < w * h; ++i) {
        if (i % 126 == 0)
            codes.append(char(128));
        codes.append(char((i % w + i / w) % 128));
    }
    codes.append(char(129));
    for (qsizetype i = 0; i < codes.size(); i += 255) {
        const QByteArray part = codes.mid(i, 255);
        b.append(char(part.size())).append(part);
    }
    return b.append('\0').append(char(0x3B));
}

// A 16-bit BMP with RGB565 bit fields, every pixel `pixel`.
QByteArray bmp565(int w, int h, std::uint16_t pixel)
{
    const int stride = (w * 2 + 3) / 4 * 4;
    QByteArray b("BM");
    le32(b, 14 + 40 + 12 + stride * h), le32(b, 0), le32(b, 14 + 40 + 12);
    le32(b, 40), le32(b, w), le32(b, h), le16(b, 1), le16(b, 16), le32(b, 3), le32(b, stride * h);
    le32(b, 2835), le32(b, 2835), le32(b, 0), le32(b, 0);
    le32(b, 0xF800), le32(b, 0x07E0), le32(b, 0x001F);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            le16(b, pixel);
        b.append(QByteArray(stride - w * 2, '\0'));
    }
    return b;
}

// A PNG chunk: length, type, data and CRC.
QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(data.size()), chunk.data());
    chunk += type + data + QByteArray(4, '\0');
    const QByteArray body = type + data;
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))),
        chunk.data() + chunk.size() - 4);
    return chunk;
}

// An 8-bit PNG of random bytes whose rows take the five filters in turn,
// colour type 6 (RGBA) or 2 (RGB), its image data split over two chunks.
QByteArray pngOfEveryFilter(int width, int height, char colourType, std::mt19937& rng)
{
    const int channels = colourType == 6 ? 4 : 3;
    QByteArray rows;
    for (int y = 0; y < height; ++y) {
        rows.append(char(y % 5));
        for (int i = 0; i < width * channels; ++i)
            rows.append(char(rng() % 256));
    }
    const QByteArray data = qCompress(rows).mid(4);  // a zlib stream after Qt's length
    QByteArray ihdr(13, '\0');
    qToBigEndian(quint32(width), ihdr.data());
    qToBigEndian(quint32(height), ihdr.data() + 4);
    ihdr[8] = 8;
    ihdr[9] = colourType;
    return QByteArray("\x89PNG\r\n\x1a\n") + pngChunk("IHDR", ihdr) + pngChunk("IDAT", data.left(data.size() / 2)) +
        pngChunk("IDAT", data.mid(data.size() / 2)) + pngChunk("IEND", {});
}

// A photo-like image, so that a JPEG of it has a long scan to cut.
QImage gradient(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x * y) % 256));
    return img;
}

class InputFaults : public VintrixFolder {
protected:
    // A first successful run whose output a failed run must leave alone.
    Files packEarlierOutput()
    {
        save(QImage(4, 4, QImage::Format_RGBA8888), "good.png");
        EXPECT_TRUE(Ran(pack(64, 64, "n", 32, 1, 0)));
        return output();
    }
    // The sheet and its data, and the output's lock and record of names, as
    // they were: no run folder or temporary file is left.
    void expectEarlierOutput(const Files& earlier)
    {
        EXPECT_EQ(output(), earlier);
        EXPECT_EQ(QDir(path("Output")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{".vintrix-sets", ".vintrix.lock", "n.json", "n.png"}));
    }
};

// ---- memory ---------------------------------------------------------------

TEST_F(InputFaults, ImagesPastTheMemoryBudgetAreRefusedBeforeDecoding)
{
    QImage big(1200, 1200, QImage::Format_Grayscale8);  // 5.5 MiB each once decoded to RGBA
    big.fill(0);
    save(big, "big1.png");
    save(big, "big2.png");
    env_.insert("VINTRIX_IMAGE_MEMORY_MIB", "8");
    const RunResult r = pack(2048, 2048, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, BadInput);
    // Which of the two is decoded first depends on the threads.
    EXPECT_EQ(QString(r.err).replace("big2.png", "big1.png"),
        "error: \"big1.png\": decoding its 1200x1200 pixels (6 MiB) would take the decoded images past Vintrix's "
        "memory budget of 8 MiB (set VINTRIX_IMAGE_MEMORY_MIB to change it)\n");
    EXPECT_FALSE(outputExists());

    env_.insert("VINTRIX_IMAGE_MEMORY_MIB", "16");
    EXPECT_EQ(pack(2048, 2048, "n", 32, 1, 0).exitCode, Ok);
    env_.insert("VINTRIX_IMAGE_MEMORY_MIB", "lots");
    const RunResult bad = pack(2048, 2048, "n", 32, 1, 0);
    EXPECT_EQ(bad.exitCode, BadArguments);
    EXPECT_EQ(bad.err,
        "error: VINTRIX_IMAGE_MEMORY_MIB must be a number of MiB from 1 to 1099511627776, not "
        "\"lots\"\n");
}

TEST_F(InputFaults, RunningOutOfMemoryIsAnErrorNotACrash)
{
#ifdef VINTRIX_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer cannot run under an address space limit";
#endif
    const Files earlier = packEarlierOutput();
    // Three 32 KB files that decode to 256 MiB each, under a limit of 640 MiB.
    QImage big(8192, 8192, QImage::Format_Grayscale8);
    big.fill(0);
    save(big, "big1.png");
    ASSERT_TRUE(QFile::copy(path("sprites/big1.png"), path("sprites/big2.png")));
    ASSERT_TRUE(QFile::copy(path("sprites/big1.png"), path("sprites/big3.png")));
    const RunResult r = run({"8192", "8192", "n", "32", "1", "0", sprites()}, [] {
        const rlimit limit{rlim_t{640} << 20, rlim_t{640} << 20};
        ::setrlimit(RLIMIT_AS, &limit);
    });
    EXPECT_EQ(r.exitCode, BadInput) << r.err.toStdString();
    EXPECT_FALSE(r.err.isEmpty());
    for (const QString& line : r.err.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith("error: \"big") && line.contains(": cannot decode image: ") &&
            line.endsWith("out of memory", Qt::CaseInsensitive))
            << line.toStdString();
    expectEarlierOutput(earlier);
}

// Bleeding works beside the decoded images, which may fill the budget: its
// own memory stays within about a third of the image's, here with a first
// ring around half the pixels and a second around a quarter.
TEST_F(InputFaults, BleedingTakesLittleMemoryBesideTheImages)
{
#ifdef VINTRIX_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer keeps freed memory and shadows all of it";
#endif
    // Indexed, a quarter of RGBA's size: a child's peak counts this process's,
    // which it starts as.
    QImage columns(4096, 4096, QImage::Format_Indexed8);
    columns.setColorTable({qRgba(0, 0, 0, 0), qRgba(200, 100, 50, 255)});
    for (int y = 0; y < columns.height(); ++y)
        for (int x = 0; x < columns.width(); ++x)
            columns.scanLine(y)[x] = x % 4 == 0;
    ASSERT_TRUE(columns.save(path("sprites/columns.png"), "png", 90));  // hardly compressed, so written quickly
    env_.insert("VINTRIX_IMAGE_MEMORY_MIB", "64");
    // The largest peak of the children waited for so far, in KiB.
    const auto peakKiB = [] {
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKiB();
    ASSERT_TRUE(Ran(pack(4096, 4096, "n", 32, 1, 0)));
    const long plain = peakKiB();
    ASSERT_TRUE(Ran(pack(4096, 4096, "n", 32, 1, 0, {}, {"--bleed"})));
    const long bled = peakKiB();
    if (plain <= before)
        GTEST_SKIP() << "an earlier child of this process took more: run this case alone, as CTest does";
    EXPECT_LT(bled - plain, 24 * 1024) << plain << " KiB without bleeding, " << bled << " with";
}

// ---- decoding -------------------------------------------------------------

struct Cut {
    const char* label;  // the file's name
    QByteArray (*bytes)();
};

class TruncatedFiles : public InputFaults, public ::testing::WithParamInterface<Cut> {};

// Cut files decode with the missing part filled in: they are refused as a
// cut PNG is, and the whole file packs.
TEST_P(TruncatedFiles, AreRefusedAndTheEarlierOutputStays)
{
    const QString file = GetParam().label;
    const QByteArray whole = GetParam().bytes();
    const Files earlier = packEarlierOutput();
    for (const double kept : {0.9, 0.6}) {
        writeBytes("sprites/" + file, whole.left(static_cast<qsizetype>(whole.size() * kept)));
        const RunResult r = pack(256, 256, "n", 32, 1, 0);
        EXPECT_EQ(r.exitCode, BadInput) << kept;
        EXPECT_EQ(r.err, "error: \"" + file + "\": cannot decode image: the file ends early\n") << kept;
        expectEarlierOutput(earlier);
    }
    writeBytes("sprites/" + file, whole);
    EXPECT_TRUE(Ran(pack(256, 256, "n", 32, 1, 0)));
}

const Cut kTruncatedFiles[] = {{"cut.png", [] { return Encoded(gradient(64, 48), "png"); }},
    {"cut.jpg", [] { return Encoded(gradient(64, 48), "jpg"); }},
    {"cut.bmp", [] { return Encoded(gradient(40, 30), "bmp"); }},
    {"cut8.bmp", [] { return Encoded(gradient(40, 30).convertToFormat(QImage::Format_Indexed8), "bmp"); }},
    {"cut.gif", [] { return gif(40, 30); }}, {"cut.tga", [] { return tga(20, 10, true); }}};

INSTANTIATE_TEST_SUITE_P(Formats, TruncatedFiles, ::testing::ValuesIn(kTruncatedFiles));

// Every format by extension in any case; PNG files, decoded without Qt, in
// every colour type and depth, and with rows in every filter; files that go
// by their content, not their extension: each frame shows what Qt reads.
// And files Qt reads otherwise or not at all, each frame the pixels they
// were made of: TGA without its footer, uncompressed and run-length
// encoded, GIF, 16-bit BMP, whose 5 and 6 bits must stretch to the full
// 0..255, and TIFF with straight alpha, its faint colours kept.
TEST_F(InputFaults, EveryKnownFormatAndKindOfFileDecodesPixelForPixel)
{
    const QStringList byExtension{"one.PNG", "two.Bmp", "three.jpg", "four.jpeg", "five.webp", "six.tif", "seven.tiff"};
    for (int i = 0; i < 7; ++i)  // see-through only in the PNG
        save(FlatSprite(2 + i, 9 - i, QColor::fromHsv(i * 50, 255, 255, i ? 255 : 128)), byExtension[i]);
    // An uncompressed 2x1 true-colour TGA with its footer.
    writeBytes("sprites/eight.tga",
        QByteArray(
            "\0\0\x02\0\0\0\0\0\0\0\0\0\x02\0\x01\0\x20\x28\x10\x20\x30\xff\x40\x50\x60\x80\0\0\0\0\0\0\0\0TRUEVISION-"
            "XFILE.\0",
            52));
    ASSERT_FALSE(QImage(path("sprites/eight.tga")).isNull());
    std::mt19937 rng(11);
    const QImage rgba = RandomSprite(rng, 13, 7);
    QImage indexed(9, 5, QImage::Format_Indexed8);
    indexed.setColorTable({qRgba(0, 0, 0, 0), qRgba(255, 0, 0, 255), qRgba(0, 80, 200, 128), qRgb(9, 9, 9)});
    for (int y = 0; y < indexed.height(); ++y)
        for (int x = 0; x < indexed.width(); ++x)
            indexed.setPixel(x, y, static_cast<uint>((x * 3 + y) % 4));
    save(rgba, "rgba.png");
    save(rgba.convertToFormat(QImage::Format_RGB888), "rgb.png");
    save(rgba.convertToFormat(QImage::Format_RGBA64), "rgba16.png");
    save(rgba.convertToFormat(QImage::Format_Grayscale8), "grey.png");
    save(rgba.convertToFormat(QImage::Format_Grayscale16), "grey16.png");
    save(rgba.convertToFormat(QImage::Format_Mono), "mono.png");
    save(indexed, "indexed.png");
    writeBytes("sprites/filters-rgba.png", pngOfEveryFilter(11, 10, 6, rng));
    writeBytes("sprites/filters-rgb.png", pngOfEveryFilter(9, 10, 2, rng));
    save(rgba, "png-inside.bmp", "png");
    save(FlatSprite(6, 6, Qt::blue), "bmp-inside.png", "bmp");
    writeBytes("sprites/png", "no extension");

    const auto made = [](std::function<QRgb(int, int)> colour) {
        QImage img(12, 5, QImage::Format_RGBA8888);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 12; ++x)
                img.setPixel(x, y, colour(x, y));
        return img;
    };
    const QImage straight = made([](int x, int y) { return (pattern(x, y) & 0xffffff) | (1u + x) << 24; });
    save(straight, "straight.tif", "tiff");
    const std::map<QString, std::pair<QByteArray, QImage>> files = {
        {"plain.tga", {tga(12, 5, false), made(pattern)}},
        {"rle.tga", {tga(12, 5, true), made(pattern)}},
        {"pattern.gif", {gif(12, 5), made([](int x, int y) { return pattern((x + y) % 128, 0); })}},
        {"white.bmp", {bmp565(12, 5, 0xFFFF), made([](int, int) { return qRgb(255, 255, 255); })}},
        {"mid.bmp", {bmp565(12, 5, 0x8410), made([](int, int) { return qRgb(132, 130, 132); })}},  // 16/31, 32/63
        {"straight.tif", {{}, straight}},
    };
    ASSERT_TRUE(work_.mkpath("made"));
    for (const auto& [file, content] : files) {
        if (!content.first.isEmpty())
            writeBytes("sprites/" + file, content.first);
        save(content.second, file + ".png", "png", path("made"));
    }
    ASSERT_TRUE(Ran(pack(128, 128, "all", 32, 1, 1, path("sprites"))));  // no trailing slash
    EXPECT_EQ(ReadAtlas(path("Output"), "all").frames.size(), 25u);
    EXPECT_EQ(FramesDiffer(path("Output"), "all", path("sprites"), Data::JsonHash,
                  [&](const QString& key) { return files.count(key) ? "../made/" + key + ".png" : key; }),
        "");
}

// One file that is no image among many PNG files, and among files of every
// format, decoded on every thread: its error line, every time, and nothing
// else (a reader's global state torn down at exit once aborted such runs).
class BadFileAmongMany : public InputFaults, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(BadFileAmongMany, EndsWithItsErrorLine)
{
    const auto [pngs, everyFormat] = GetParam();
    const QImage sprite = gradient(10, 12);
    for (int i = 0; i < pngs; ++i)
        save(sprite, QString("s%1.png").arg(i));
    if (everyFormat) {
        for (const char* format : {"jpg", "bmp", "webp", "tif"})
            save(sprite, QString("other.") + format);
        writeBytes("sprites/other.gif", gif(10, 12));
        writeBytes("sprites/other.tga", tga(10, 12, true));
    }
    writeBytes("sprites/fake.png", "hello, this is text\n");
    const RunResult r = pack(256, 256, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, BadInput);
    EXPECT_EQ(r.err, "error: \"fake.png\": cannot decode image: not a PNG, BMP, JPEG, GIF, WebP, TGA or TIFF file\n");
    EXPECT_FALSE(outputExists());
}

INSTANTIATE_TEST_SUITE_P(Counts, BadFileAmongMany,
    ::testing::Values(std::tuple(0, false), std::tuple(21, false), std::tuple(22, false), std::tuple(40, true)));

// ---- skipped entries ------------------------------------------------------

// Entries that are not images, or cannot even be looked at, are named in
// one warning with the reason; good.png packs.
class SkippedEntries : public InputFaults {
protected:
    void expectListed(const QStringList& entries, const QStringList& options = {"--recursive"})
    {
        save(QImage(4, 4, QImage::Format_RGBA8888), "good.png");
        // Run by root, Vintrix may not read what the folders' owner cannot.
        const RunResult r = run(QStringList{"64", "64", "n", "32", "1", "0", sprites()} + options, [] {
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE);
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH);
        });
        EXPECT_EQ(r.exitCode, Ok);
        EXPECT_EQ(r.err,
            QString("warning: skipped %1 entr%2 of \"").arg(entries.size()).arg(entries.size() == 1 ? "y" : "ies") +
                sprites() + "\": " + entries.join(", ") + "\n");
        EXPECT_EQ(ReadAtlas(path("Output"), "n").frames.size(), 1u);
    }
};

TEST_F(SkippedEntries, OfEveryKindWithoutRecursive)
{
    ASSERT_TRUE(work_.mkpath("sprites/folder.png") && work_.mkpath("sprites/sub"));
    ASSERT_EQ(::mkfifo(path("sprites/pipe.png").toLocal8Bit().constData(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/null", path("sprites/device.bmp").toLocal8Bit().constData()), 0);
    ASSERT_EQ(::symlink("missing.png", path("sprites/gone.png").toLocal8Bit().constData()), 0);
    writeBytes("sprites/notes.txt", "not an image, not worth a word");
    expectListed(
        {"\"device.bmp\" (a device)", "\"folder.png\" (a folder: subfolders are not read)",
            "\"gone.png\" (a link to nothing)", "\"pipe.png\" (a FIFO)", "\"sub\" (a folder: subfolders are not read)"},
        {});
}

// With --recursive (where they were once dropped without a word): folders
// nested until the path of the last one is longer than PATH_MAX; the one
// before can still be listed, the last cannot be looked at.
TEST_F(SkippedEntries, PathPastPathMax)
{
    QString at = sprites().chopped(1);
    while (at.size() + 1 + 201 <= 4095)  // else its path with a slash can still be listed
        at += "/" + QString(200, 'd');
    at += "/" + QString(250, 'z');
    ASSERT_EQ(QProcess::execute("mkdir", {"-p", at}), 0);  // which makes one folder at a time
    expectListed({"\"" + at.mid(sprites().size()) + "\" (cannot be read: File name too long)"});
    // Too deep for QTemporaryDir to remove.
    EXPECT_EQ(QProcess::execute("rm", {"-rf", sprites() + QString(200, 'd')}), 0);
}

// A folder that can be listed but not searched: its entries' names are
// known, nothing else.
TEST_F(SkippedEntries, FolderWithoutSearch)
{
    ASSERT_TRUE(work_.mkpath("sprites/locked/deeper"));
    writeBytes("sprites/locked/a.png", "");
    const QByteArray locked = QFile::encodeName(path("sprites/locked"));
    ASSERT_EQ(::chmod(locked.constData(), 0600), 0);
    expectListed({"\"locked/a.png\" (cannot be read: Permission denied)",
        "\"locked/deeper\" (cannot be read: Permission denied)"});
    ::chmod(locked.constData(), 0700);
}

}  // namespace vintrix::test
