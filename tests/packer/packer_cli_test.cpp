// Runs the real Vintrix in temporary folders and reads what it wrote with
// Qt's own image readers and JSON parser.
#include <fstream>
#include <map>
#include <random>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

struct RunResult {
    int exitCode = -1;
    QString out, err;
};

enum Exit { Ok = 0, BadArguments = 2, BadInput = 3, OutputFailed = 4 };

class VintrixTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        work_ = QDir(tmp_.path());
        ASSERT_TRUE(work_.mkpath("sprites"));
        env_.remove("VINTRIX_PROGRESS");
    }

    QString path(const QString& rel) const { return work_.filePath(rel); }
    QString sprites() const { return path("sprites") + "/"; }

    RunResult run(const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(work_.path());
        p.setProcessEnvironment(env_);
        p.start(VINTRIX_BINARY, args);
        EXPECT_TRUE(p.waitForFinished(120000));
        RunResult r;
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    RunResult pack(int w, int h, const QString& name, int bpp, int format, int margin, QString folder = {}) {
        if (folder.isEmpty())
            folder = sprites();
        return run({QString::number(w), QString::number(h), name, QString::number(bpp), QString::number(format),
                    QString::number(margin), folder});
    }

    void save(const QImage& img, const QString& file, const char* format = nullptr, QString dir = {}) {
        if (dir.isEmpty())
            dir = path("sprites");
        ASSERT_TRUE(img.save(dir + "/" + file, format)) << file.toStdString();
    }

    void writeBytes(const QString& rel, const QByteArray& bytes) {
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QJsonObject json(const QString& rel) const {
        QFile f(path(rel));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << rel.toStdString();
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << rel.toStdString();
        return doc.object();
    }

    // Every file in Output with its bytes, but for Vintrix's lock and its
    // record of which name wrote which files.
    std::map<QString, QByteArray> outputFiles() const {
        std::map<QString, QByteArray> files;
        QDirIterator it(path("Output"), QDir::Files | QDir::Hidden);
        while (it.hasNext()) {
            QFile f(it.next());
            if (it.fileName() == ".vintrix.lock" || it.fileName() == ".vintrix-sets")
                continue;
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            files[it.fileName()] = f.readAll();
        }
        return files;
    }

    static QImage readImage(const QString& file) {
        QImageReader reader(file);
        QImage img = reader.read();
        EXPECT_FALSE(img.isNull()) << file.toStdString() << ": " << reader.errorString().toStdString();
        return img;
    }

    QTemporaryDir tmp_;
    QDir work_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
};

// Random sprites: opaque and see-through areas, full and partial alpha.
QImage randomSprite(std::mt19937& rng, int w, int h) {
    QImage img(w, h, QImage::Format_RGBA8888);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = (x + y) % 5 == 0 ? 0 : (x % 3 == 0 ? byte(rng) : 255);
            img.setPixelColor(x, y, QColor(byte(rng), byte(rng), byte(rng), a));
        }
    return img;
}

QImage flatSprite(int w, int h, QColor colour) {
    QImage img(w, h, QImage::Format_RGBA8888);
    img.fill(colour);
    return img;
}

struct Frame {
    QString sheetFile;
    QRect rect;
};

// All frames of a run, from the first data file and the ones it names.
std::map<QString, Frame> readFrames(const QDir& output, const QString& name, int* sheets = nullptr) {
    std::map<QString, Frame> frames;
    auto load = [&](const QString& file) {
        QFile f(output.filePath(file));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
        const QString image = root["meta"].toObject()["image"].toString();
        const QJsonObject fr = root["frames"].toObject();
        for (auto it = fr.begin(); it != fr.end(); ++it) {
            const QJsonObject r = it->toObject()["frame"].toObject();
            EXPECT_EQ(frames.count(it.key()), 0u) << it.key().toStdString() << " listed twice";
            frames[it.key()] = {image, QRect(r["x"].toInt(), r["y"].toInt(), r["w"].toInt(), r["h"].toInt())};
        }
        return root;
    };
    const QJsonObject first = load(name + ".json");
    const QJsonArray related = first["meta"].toObject()["related_multi_packs"].toArray();
    for (const QJsonValue& v : related)
        load(v.toString());
    if (sheets)
        *sheets = 1 + static_cast<int>(related.size());
    return frames;
}

::testing::AssertionResult samePixels(const QImage& sheet, const QRect& at, const QImage& source) {
    const QImage a = sheet.convertToFormat(QImage::Format_RGBA8888);
    const QImage b = source.convertToFormat(QImage::Format_RGBA8888);
    if (at.size() != b.size())
        return ::testing::AssertionFailure() << "frame size differs from the source";
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            if (a.pixel(at.x() + x, at.y() + y) != b.pixel(x, y))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs";
    return ::testing::AssertionSuccess();
}

// ---- arguments ------------------------------------------------------------

struct BadArgsCase {
    const char* label;
    QStringList args;  // "DIR" stands for an existing images folder
    const char* message;
};

class BadArgumentTable : public VintrixTest, public ::testing::WithParamInterface<BadArgsCase> {};

TEST_P(BadArgumentTable, ExitWithOneLineNamingTheArgumentAndWriteNothing) {
    save(flatSprite(4, 4, Qt::red), "a.png");
    QStringList args = GetParam().args;
    for (QString& a : args)
        a.replace("DIR", sprites());
    const RunResult r = run(args);
    EXPECT_EQ(r.exitCode, BadArguments);
    EXPECT_EQ(r.err, QString("error: ") + QString(GetParam().message).replace("DIR", sprites()) + "\n");
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path("Output")));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadArgumentTable,
    ::testing::Values(
        BadArgsCase{"six", {"64", "64", "n", "32", "1", "0"}, "no images folder given: choose one in the folder list"},
        BadArgsCase{"none", {}, "expected 7 arguments, WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER, got 0 (see Vintrix --help)"},
        BadArgsCase{"eight", {"64", "64", "n", "32", "1", "0", "DIR", "x"}, "expected 7 arguments, WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER, got 8 (see Vintrix --help)"},
        BadArgsCase{"widthZero", {"0", "64", "n", "32", "1", "0", "DIR"}, "width must be a whole number from 1 to 65536, not \"0\""},
        BadArgsCase{"widthNegative", {"-5", "64", "n", "32", "1", "0", "DIR"}, "width must be a whole number from 1 to 65536, not \"-5\""},
        BadArgsCase{"widthHuge", {"65537", "64", "n", "32", "1", "0", "DIR"}, "width must be a whole number from 1 to 65536, not \"65537\""},
        BadArgsCase{"widthOverflow", {"99999999999999999999", "64", "n", "32", "1", "0", "DIR"}, "width must be a whole number from 1 to 65536, not \"99999999999999999999\""},
        BadArgsCase{"widthText", {"12px", "64", "n", "32", "1", "0", "DIR"}, "width must be a whole number from 1 to 65536, not \"12px\""},
        BadArgsCase{"heightEmpty", {"64", "", "n", "32", "1", "0", "DIR"}, "height must be a whole number from 1 to 65536, not \"\""},
        BadArgsCase{"folderWithControls", {"8", "8", "n", "32", "1", "0", "no\nsuch\tfolder\x1b"}, "images folder \"no\\nsuch\\tfolder\\x1b\" does not exist"},
        BadArgsCase{"nameEmpty", {"64", "64", "", "32", "1", "0", "DIR"}, "name must not be empty"},
        BadArgsCase{"nameSlash", {"64", "64", "a/b", "32", "1", "0", "DIR"}, "name must be a plain file name without \"/\", not \"a/b\""},
        BadArgsCase{"nameDot", {"64", "64", ".", "32", "1", "0", "DIR"}, "name must be a plain file name, not \".\""},
        BadArgsCase{"nameDotDot", {"64", "64", "..", "32", "1", "0", "DIR"}, "name must be a plain file name, not \"..\""},
        BadArgsCase{"bpp16", {"64", "64", "n", "16", "1", "0", "DIR"}, "bits per pixel must be 8 or 32, not \"16\""},
        BadArgsCase{"format2", {"64", "64", "n", "32", "2", "0", "DIR"}, "format must be 0 (BMP) or 1 (PNG), not \"2\""},
        BadArgsCase{"formatNegative", {"64", "64", "n", "32", "-1", "0", "DIR"}, "format must be 0 (BMP) or 1 (PNG), not \"-1\""},
        BadArgsCase{"marginNegative", {"64", "64", "n", "32", "1", "-5", "DIR"}, "margin must be a whole number from 0 to 31 for a 64x64 sheet, not \"-5\""},
        BadArgsCase{"marginNoRoom", {"64", "10", "n", "32", "1", "5", "DIR"}, "margin must be a whole number from 0 to 4 for a 64x10 sheet, not \"5\""},
        BadArgsCase{"folderMissing", {"64", "64", "n", "32", "1", "0", "DIRnope/"}, "images folder \"DIRnope/\" does not exist"},
        BadArgsCase{"folderIsFile", {"64", "64", "n", "32", "1", "0", "DIRa.png"}, "images folder \"DIRa.png\" is not a folder"},
        BadArgsCase{"bmpTooBig", {"65536", "65536", "n", "32", "0", "0", "DIR"}, "a 65536x65536 BMP sheet at 32 bits per pixel would exceed the 4 GiB a BMP file can hold: use PNG (format 1) or a smaller sheet"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(VintrixTest, FolderMessagesShowTheFolderAsGiven) {
    // The table above stands the folder in for DIR; check one message literally.
    const RunResult r = run({"8", "8", "n", "32", "1", "0", "no such folder"});
    EXPECT_EQ(r.err, "error: images folder \"no such folder\" does not exist\n");
}

TEST_F(VintrixTest, HelpAndVersion) {
    const RunResult help = run({"--help"});
    EXPECT_EQ(help.exitCode, Ok);
    EXPECT_TRUE(help.out.startsWith("Usage: Vintrix WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER\n"));
    const RunResult version = run({"--version"});
    EXPECT_EQ(version.exitCode, Ok);
    EXPECT_TRUE(version.out.startsWith("Vintrix 1."));
}

// A program that reads stderr through a pipe asks for progress as lines.
TEST_F(VintrixTest, ProgressLinesOnlyWhenAskedFor) {
    std::mt19937 rng(7);
    for (int i = 0; i < 40; ++i)
        save(randomSprite(rng, 20, 12), QString("s%1.png").arg(i));
    const RunResult quiet = pack(128, 128, "n", 32, 1, 0);
    EXPECT_EQ(quiet.exitCode, Ok);
    EXPECT_EQ(quiet.err, "");

    env_.insert("VINTRIX_PROGRESS", "lines");
    const RunResult r = pack(128, 128, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, Ok);
    EXPECT_EQ(r.out, quiet.out);
    QStringList stages;
    std::map<QString, std::pair<qulonglong, qulonglong>> last;
    for (const QString& line : r.err.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split(' ');
        ASSERT_EQ(f.size(), 4) << line.toStdString();
        ASSERT_EQ(f[0], "progress");
        if (stages.isEmpty() || stages.last() != f[1])
            stages << f[1];
        last[f[1]] = {f[2].toULongLong(), f[3].toULongLong()};
        EXPECT_LE(last[f[1]].first, last[f[1]].second) << line.toStdString();
    }
    EXPECT_EQ(stages, (QStringList{"reading", "packing", "writing"}));
    EXPECT_EQ(last["reading"], (std::pair<qulonglong, qulonglong>{40, 40}));
    EXPECT_EQ(last["writing"].first, last["writing"].second);
}

// ---- bad input ------------------------------------------------------------

TEST_F(VintrixTest, UndecodableImageIsNamedAndNothingIsWritten) {
    save(flatSprite(4, 4, Qt::red), "good.png");
    writeBytes("sprites/broken.png", "\x89PNG\r\n\x1a\nnot really");
    const RunResult r = pack(64, 64, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, BadInput);
    EXPECT_TRUE(r.err.startsWith("error: \"broken.png\": cannot decode image")) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1);
    EXPECT_FALSE(QFileInfo::exists(path("Output")));
}

// "\xff.png" would reach the atlas data as U+FFFD, the same key as a real
// "\uFFFD.png": one of the two frames would be lost to every reader.
TEST_F(VintrixTest, AFileNameThatIsNotUtf8IsRefusedAndNothingIsWritten) {
    save(flatSprite(4, 4, Qt::red), "good.png");
    QFile good(path("sprites/good.png"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const std::string stray = path("sprites").toStdString() + "/\xff.png";
    std::ofstream(stray, std::ios::binary) << good.readAll().toStdString();
    const RunResult r = pack(64, 64, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, BadInput);
    EXPECT_EQ(r.err, "error: \"\\xff.png\" has a file name that is not valid UTF-8, so the atlas data cannot "
                     "name it: rename the file\n");
    EXPECT_FALSE(QFileInfo::exists(path("Output")));
}

TEST_F(VintrixTest, ImageTooLargeForTheSheetIsNamedWithItsSize) {
    save(flatSprite(4, 4, Qt::red), "small.png");
    save(flatSprite(60, 20, Qt::blue), "wide.png");
    const RunResult r = pack(64, 64, "n", 32, 1, 3);
    EXPECT_EQ(r.exitCode, BadInput);
    EXPECT_EQ(r.err, "error: \"wide.png\": image of 60x20 pixels does not fit on a 64x64 sheet with a margin of 3\n");
    EXPECT_FALSE(QFileInfo::exists(path("Output")));
}

// A PNG chunk: length, type, data and CRC.
QByteArray pngChunk(const QByteArray& type, const QByteArray& data) {
    auto be32 = [](quint32 v) {
        QByteArray b;
        for (int s = 24; s >= 0; s -= 8)
            b.append(char((v >> s) & 0xff));
        return b;
    };
    quint32 crc = 0xffffffffu;
    for (char ch : type + data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return be32(quint32(data.size())) + type + data + be32(~crc);
}

TEST_F(VintrixTest, HugeDimensionsInAHeaderAreRefusedWithoutDecoding) {
    // A header claiming 60000x60000 RGBA pixels, followed by no pixel data.
    const QByteArray ihdr("\x00\x00\xea\x60\x00\x00\xea\x60\x08\x06\x00\x00\x00", 13);
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n") + pngChunk("IHDR", ihdr) + pngChunk("IDAT", {}) +
                           pngChunk("IEND", {});
    writeBytes("sprites/bomb.png", png);
    const RunResult r = pack(65536, 65536, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, BadInput);
    EXPECT_EQ(r.err, "error: \"bomb.png\": image claims 60000x60000 pixels, more than Vintrix decodes (268435456 pixels)\n");
    EXPECT_FALSE(QFileInfo::exists(path("Output")));
}

TEST_F(VintrixTest, FolderWithoutImages) {
    writeBytes("sprites/readme.txt", "not an image");
    const RunResult r = pack(64, 64, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, BadInput);
    EXPECT_TRUE(r.err.startsWith("error: no images in \"" + sprites() + "\"")) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("Output")));
}

// ---- 32-bit sheets --------------------------------------------------------

struct SheetCase {
    int format;  // 0 BMP, 1 PNG
    int margin;
    int width, height;
};

class TrueColour : public VintrixTest, public ::testing::WithParamInterface<SheetCase> {};

TEST_P(TrueColour, SheetsHoldEverySourcePixelWhereTheDataSays) {
    const SheetCase c = GetParam();
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> side(1, 40);
    std::map<QString, QImage> sources;
    for (int i = 0; i < 40; ++i) {
        const QString name = QString("sprite%1.png").arg(i, 2, 10, QChar('0'));
        sources[name] = randomSprite(rng, side(rng), side(rng));
        save(sources[name], name);
    }
    const RunResult r = pack(c.width, c.height, "sheet", 32, c.format, c.margin);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty());
    EXPECT_TRUE(r.out.startsWith("packed 40 images into ")) << r.out.toStdString();

    const QDir out(path("Output"));
    int sheets = 0;
    const auto frames = readFrames(out, "sheet", &sheets);
    ASSERT_EQ(frames.size(), sources.size());
    std::map<QString, QImage> sheetImages;
    std::map<QString, std::vector<bool>> covered;  // which pixels the frames claim, per sheet
    for (const auto& [name, frame] : frames) {
        ASSERT_TRUE(sources.count(name)) << name.toStdString();
        if (!sheetImages.count(frame.sheetFile)) {
            sheetImages[frame.sheetFile] = readImage(out.filePath(frame.sheetFile));
            ASSERT_EQ(sheetImages[frame.sheetFile].size(), QSize(c.width, c.height));
            ASSERT_TRUE(sheetImages[frame.sheetFile].hasAlphaChannel());
            covered[frame.sheetFile].assign(static_cast<std::size_t>(c.width * c.height), false);
        }
        EXPECT_TRUE(samePixels(sheetImages[frame.sheetFile], frame.rect, sources[name])) << name.toStdString();
        // The frame grown by the margin lies on the sheet and meets no other frame.
        const QRect grown = frame.rect.adjusted(-c.margin, -c.margin, c.margin - 1, c.margin - 1);
        EXPECT_TRUE(QRect(0, 0, c.width, c.height).contains(frame.rect.adjusted(-c.margin, -c.margin, c.margin, c.margin)));
        // Frames are checked in name order: each one's margin must be free of
        // the ones before it, and its own pixels must be unclaimed.
        std::vector<bool>& mask = covered[frame.sheetFile];
        auto at = [&](int x, int y) { return mask[static_cast<std::size_t>(y * c.width + x)]; };
        for (int y = std::max(0, grown.top()); y <= std::min(c.height - 1, grown.bottom()); ++y)
            for (int x = std::max(0, grown.left()); x <= std::min(c.width - 1, grown.right()); ++x)
                ASSERT_FALSE(at(x, y)) << name.toStdString() << " comes too close at " << x << "," << y;
        for (int y = frame.rect.top(); y <= frame.rect.bottom(); ++y)
            for (int x = frame.rect.left(); x <= frame.rect.right(); ++x)
                mask[static_cast<std::size_t>(y * c.width + x)] = true;
    }
    EXPECT_EQ(static_cast<int>(sheetImages.size()), sheets);
    // Everything outside the frames is fully transparent.
    for (const auto& [file, img] : sheetImages) {
        const QImage rgba = img.convertToFormat(QImage::Format_RGBA8888);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                if (!covered[file][static_cast<std::size_t>(y * c.width + x)]) {
                    ASSERT_EQ(qAlpha(rgba.pixel(x, y)), 0) << file.toStdString() << " at " << x << "," << y;
                }
    }
}

INSTANTIATE_TEST_SUITE_P(Sheets, TrueColour,
                         ::testing::Values(SheetCase{1, 0, 128, 128}, SheetCase{1, 2, 100, 90},
                                           SheetCase{0, 0, 128, 128}, SheetCase{0, 3, 77, 131},
                                           SheetCase{1, 1, 512, 512}, SheetCase{0, 1, 512, 512}));

TEST_F(VintrixTest, IdenticalImagesAreStoredOnce) {
    std::mt19937 rng(3);
    // Opaque, so that the BMP copy holds the very same pixels.
    const QImage a = randomSprite(rng, 20, 20).convertToFormat(QImage::Format_RGB32);
    QImage b = a.copy();
    b.setPixelColor(19, 19, QColor(1, 2, 3, 255));  // same size, one pixel apart
    save(a, "a.png");
    save(a, "a-copy.png");
    save(a, "a.bmp");
    save(b, "b.png");
    const RunResult r = pack(64, 64, "n", 32, 1, 0);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("packed 4 images (2 unique) into 1 sheet of 64x64")) << r.out.toStdString();
    const auto frames = readFrames(QDir(path("Output")), "n");
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames.at("a.png").rect, frames.at("a-copy.png").rect);
    EXPECT_EQ(frames.at("a.png").rect, frames.at("a.bmp").rect);
    EXPECT_NE(frames.at("a.png").rect, frames.at("b.png").rect);
    const QImage sheet = readImage(path("Output/n.png"));
    EXPECT_TRUE(samePixels(sheet, frames.at("b.png").rect, b));
}

TEST_F(VintrixTest, ReadsEveryKnownFormatDirectlyInTheFolderOnly) {
    std::map<QString, QImage> expected;
    auto add = [&](const QString& file, const QImage& img, const char* fmt) {
        save(img, file, fmt);
        expected[file] = QImage(path("sprites/" + file));
    };
    add("one.PNG", flatSprite(5, 6, QColor(10, 20, 30, 128)), "png");
    add("two.Bmp", flatSprite(7, 3, Qt::green), "bmp");
    add("three.jpg", flatSprite(8, 8, Qt::white), "jpg");
    add("four.jpeg", flatSprite(9, 4, Qt::black), "jpeg");
    add("five.webp", flatSprite(4, 9, Qt::yellow), "webp");
    add("six.tif", flatSprite(3, 3, Qt::cyan), "tiff");
    add("seven.tiff", flatSprite(2, 5, Qt::magenta), "tiff");
    // An uncompressed 2x1 true-colour TGA, written by hand.
    writeBytes("sprites/eight.tga", QByteArray("\0\0\x02\0\0\0\0\0\0\0\0\0\x02\0\x01\0\x20\x28"
                                               "\x10\x20\x30\xff\x40\x50\x60\x80"
                                               "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.\0", 52));
    expected["eight.tga"] = QImage(path("sprites/eight.tga"));
    ASSERT_FALSE(expected["eight.tga"].isNull());
    writeBytes("sprites/notes.txt", "skip me");
    writeBytes("sprites/png", "no extension");
    ASSERT_TRUE(work_.mkpath("sprites/sub.png"));
    save(flatSprite(4, 4, Qt::red), "inside.png", nullptr, path("sprites/sub.png"));

    const RunResult r = pack(64, 64, "all", 32, 1, 1, path("sprites"));  // no trailing slash
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    const auto frames = readFrames(QDir(path("Output")), "all");
    ASSERT_EQ(frames.size(), expected.size());
    const QImage sheet = readImage(path("Output/all.png"));
    for (const auto& [file, img] : expected) {
        ASSERT_TRUE(frames.count(file)) << file.toStdString();
        EXPECT_TRUE(samePixels(sheet, frames.at(file).rect, img)) << file.toStdString();
    }
}

// PNG files are decoded without Qt: every colour type and depth must give
// the pixels Qt gives, and files go by their content, not their extension.
TEST_F(VintrixTest, EveryKindOfPngAndMisnamedFilesGiveTheSamePixelsAsQt) {
    std::mt19937 rng(11);
    const QImage rgba = randomSprite(rng, 13, 7);
    QImage indexed(9, 5, QImage::Format_Indexed8);
    indexed.setColorTable({qRgba(0, 0, 0, 0), qRgba(255, 0, 0, 255), qRgba(0, 80, 200, 128), qRgb(9, 9, 9)});
    for (int y = 0; y < indexed.height(); ++y)
        for (int x = 0; x < indexed.width(); ++x)
            indexed.setPixel(x, y, static_cast<uint>((x * 3 + y) % 4));
    std::map<QString, QImage> sources = {
        {"rgba.png", rgba},
        {"rgb.png", rgba.convertToFormat(QImage::Format_RGB888)},
        {"rgba16.png", rgba.convertToFormat(QImage::Format_RGBA64)},
        {"grey.png", rgba.convertToFormat(QImage::Format_Grayscale8)},
        {"grey16.png", rgba.convertToFormat(QImage::Format_Grayscale16)},
        {"mono.png", rgba.convertToFormat(QImage::Format_Mono)},
        {"indexed.png", indexed},
    };
    std::map<QString, QImage> expected;
    for (const auto& [file, img] : sources) {
        save(img, file, "png");
        expected[file] = readImage(path("sprites/" + file));
    }
    save(rgba, "png-inside.bmp", "png");
    save(flatSprite(6, 6, Qt::blue), "bmp-inside.png", "bmp");
    expected["png-inside.bmp"] = readImage(path("sprites/png-inside.bmp"));
    expected["bmp-inside.png"] = readImage(path("sprites/bmp-inside.png"));

    const RunResult r = pack(128, 128, "kinds", 32, 1, 1);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    const auto frames = readFrames(QDir(path("Output")), "kinds");
    ASSERT_EQ(frames.size(), expected.size());
    const QImage sheet = readImage(path("Output/kinds.png"));
    for (const auto& [file, img] : expected) {
        ASSERT_TRUE(frames.count(file)) << file.toStdString();
        EXPECT_TRUE(samePixels(sheet, frames.at(file).rect, img)) << file.toStdString();
    }
}

TEST_F(VintrixTest, TruncatedPngIsNamedAndNothingIsWritten) {
    save(flatSprite(4, 4, Qt::red), "good.png");
    std::mt19937 rng(5);
    save(randomSprite(rng, 40, 40), "cut.png");
    QFile cut(path("sprites/cut.png"));
    ASSERT_TRUE(cut.resize(cut.size() / 2));
    const RunResult r = pack(64, 64, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, BadInput);
    EXPECT_TRUE(r.err.startsWith("error: \"cut.png\": cannot decode image: ")) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1);
    EXPECT_FALSE(QFileInfo::exists(path("Output")));
}

TEST_F(VintrixTest, MultiplePacksAreNamedInTheFirstDataFile) {
    for (int i = 0; i < 10; ++i)
        save(flatSprite(30, 30, QColor(i * 20, 0, 0)), QString("s%1.png").arg(i));
    const RunResult r = pack(64, 64, "multi", 32, 1, 1);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    EXPECT_EQ(r.out, "packed 10 images into 3 sheets of 64x64 (first 87.9% full, 73.2% overall): "
                     "Output/multi.png to Output/multi-3.png with atlas data Output/multi.json\n");
    const QJsonObject first = json("Output/multi.json");
    EXPECT_EQ(first["meta"].toObject()["related_multi_packs"].toArray(), (QJsonArray{"multi-2.json", "multi-3.json"}));
    EXPECT_EQ(json("Output/multi-2.json")["meta"].toObject()["image"].toString(), "multi-2.png");
    EXPECT_FALSE(json("Output/multi-3.json")["meta"].toObject().contains("related_multi_packs"));
    const auto files = outputFiles();
    std::vector<QString> names;
    for (const auto& [n, bytes] : files)
        names.push_back(n);
    EXPECT_EQ(names, (std::vector<QString>{"multi-2.json", "multi-2.png", "multi-3.json", "multi-3.png",
                                           "multi.json", "multi.png"}));
}

// ---- what a run leaves behind ---------------------------------------------

TEST_F(VintrixTest, FewerSheetsRemoveTheExtraOnesOfAnEarlierRunOnly) {
    for (int i = 0; i < 6; ++i)
        save(flatSprite(30, 30, QColor(0, i * 40, 0)), QString("s%1.png").arg(i));
    ASSERT_EQ(pack(64, 64, "n", 32, 0, 0).exitCode, Ok);
    ASSERT_TRUE(QFileInfo::exists(path("Output/n-2.bmp")));
    writeBytes("Output/other.png", "someone else's");
    writeBytes("Output/n-backup.png", "not ours either");
    writeBytes("Output/n-02.json", "nor this");

    const RunResult r = pack(128, 128, "n", 32, 1, 0);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    std::vector<QString> names;
    for (const auto& [n, bytes] : outputFiles())
        names.push_back(n);
    EXPECT_EQ(names, (std::vector<QString>{"n-02.json", "n-backup.png", "n.json", "n.png", "other.png"}));
    EXPECT_FALSE(json("Output/n.json")["meta"].toObject().contains("related_multi_packs"));
}

TEST_F(VintrixTest, AFailedRunLeavesTheEarlierOutputAsItWas) {
    for (int i = 0; i < 4; ++i)
        save(flatSprite(20, 20, QColor(0, 0, i * 60)), QString("s%1.png").arg(i));
    ASSERT_EQ(pack(32, 32, "n", 32, 1, 0).exitCode, Ok);
    const auto before = outputFiles();
    ASSERT_EQ(before.size(), 8u);

    writeBytes("sprites/zz.gif", "GIF89a broken");
    const RunResult r = pack(64, 64, "n", 8, 1, 0);
    EXPECT_EQ(r.exitCode, BadInput);
    EXPECT_TRUE(r.err.startsWith("error: \"zz.gif\": cannot decode image")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(outputFiles(), before);
}

TEST_F(VintrixTest, UnwritableOutputFailsWithItsOwnCode) {
    save(flatSprite(4, 4, Qt::red), "a.png");
    writeBytes("Output", "a file where the folder should be");
    const RunResult r = pack(64, 64, "n", 32, 1, 0);
    EXPECT_EQ(r.exitCode, OutputFailed);
    EXPECT_EQ(r.err, "error: cannot use Output as the output folder: it is a file, not a folder\n");
}

TEST_F(VintrixTest, NamesWithBlanksQuotesAndLettersBeyondAscii) {
    const QString folder = QString::fromUtf8("my \"spr'ites\" ü");
    ASSERT_TRUE(work_.mkpath(folder));
    const QStringList files{QString::fromUtf8("quote\"d.png"), "back\\slash.png", "tab\tin.png",
                            QString::fromUtf8("ünïcødé 日本.png"), "plain.png"};
    std::map<QString, QImage> sources;
    for (int i = 0; i < files.size(); ++i) {
        sources[files[i]] = flatSprite(5 + i, 6, QColor(40 * i, 255 - 40 * i, 7, 255));
        save(sources[files[i]], files[i], "png", path(folder));
    }
    const QString name = QString::fromUtf8("sheet \"ä\" 'b'");
    const RunResult r = pack(64, 64, name, 32, 1, 0, path(folder) + "/");
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("Output/" + name + ".json\n")) << r.out.toStdString();
    const auto frames = readFrames(QDir(path("Output")), name);
    ASSERT_EQ(frames.size(), sources.size());
    const QImage sheet = readImage(path("Output/" + name + ".png"));
    for (const auto& [file, img] : sources) {
        ASSERT_TRUE(frames.count(file)) << file.toStdString();
        EXPECT_TRUE(samePixels(sheet, frames.at(file).rect, img)) << file.toStdString();
    }
    EXPECT_EQ(json("Output/" + name + ".json")["meta"].toObject()["image"].toString(), name + ".png");
}

class Deterministic : public VintrixTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(Deterministic, SameInputGivesTheSameBytes) {
    const auto [bpp, format] = GetParam();
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> side(2, 30);
    for (int i = 0; i < 60; ++i)
        save(randomSprite(rng, side(rng), side(rng)), QString("s%1.png").arg(i));
    ASSERT_EQ(pack(128, 128, "n", bpp, format, 1).exitCode, Ok);
    const auto first = outputFiles();
    ASSERT_TRUE(QDir(path("Output")).removeRecursively());
    ASSERT_EQ(pack(128, 128, "n", bpp, format, 1).exitCode, Ok);
    EXPECT_EQ(outputFiles(), first);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Deterministic,
                         ::testing::Values(std::pair{32, 1}, std::pair{8, 1}, std::pair{32, 0}, std::pair{8, 0}));

// ---- 8-bit sheets ---------------------------------------------------------

// Sources of a few flat colours on transparent ground fit any palette
// exactly; a gradient needs dithering and comes back only close.
std::map<QString, QImage> paletteSources() {
    std::map<QString, QImage> s;
    const QColor colours[] = {Qt::red, Qt::darkGreen, QColor(20, 40, 200), QColor(250, 200, 0, 160)};
    for (int i = 0; i < 4; ++i) {
        QImage img(12 + i, 10, QImage::Format_RGBA8888);
        img.fill(Qt::transparent);
        for (int y = 2; y < 8; ++y)
            for (int x = 1; x < img.width() - 1; ++x)
                img.setPixelColor(x, y, colours[(x / 3 + i) % 4]);
        s[QString("flat%1.png").arg(i)] = img;
    }
    QImage grad(40, 30, QImage::Format_RGBA8888);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            grad.setPixelColor(x, y, QColor(x * 6, y * 8, (x * y) % 256, x < 3 ? 0 : 255));
    s["gradient.png"] = grad;
    return s;
}

int channelError(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)),
                     std::abs(qAlpha(a) - qAlpha(b))});
}

class Palette : public VintrixTest, public ::testing::WithParamInterface<int> {};

TEST_P(Palette, EightBitSheetsStayCloseToTheSourcesAndKeepTransparency) {
    const int format = GetParam();
    const auto sources = paletteSources();
    for (const auto& [file, img] : sources)
        save(img, file);
    const RunResult r = pack(96, 96, "p", 8, format, 1);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    EXPECT_EQ(json("Output/p.json")["meta"].toObject()["format"].toString(), "INDEXED8");

    const QImage sheet = readImage(path(format == 1 ? "Output/p.png" : "Output/p.bmp"));
    ASSERT_EQ(sheet.format(), QImage::Format_Indexed8);
    ASSERT_LE(sheet.colorCount(), 256);
    const QRgb transparentEntry = sheet.color(0);
    if (format == 1) {
        EXPECT_EQ(qAlpha(transparentEntry), 0);
    } else {
        EXPECT_EQ(transparentEntry & 0xffffff, 0xff00ffu);  // magenta, as documented
    }

    const auto frames = readFrames(QDir(path("Output")), "p");
    for (const auto& [file, src] : sources) {
        const QRect at = frames.at(file).rect;
        ASSERT_EQ(at.size(), src.size());
        long long sum = 0;
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x) {
                QRgb want = src.pixel(x, y);
                const int index = sheet.pixelIndex(at.x() + x, at.y() + y);
                if (qAlpha(want) == 0) {
                    ASSERT_EQ(index, 0) << file.toStdString() << " at " << x << "," << y;
                    continue;
                }
                QRgb got = sheet.color(index);
                if (format == 0) {  // BMP keeps no alpha
                    got |= 0xff000000u;
                    want |= 0xff000000u;
                }
                const int e = channelError(got, want);
                if (file.startsWith("flat")) {
                    ASSERT_LE(e, 1) << file.toStdString() << " at " << x << "," << y;
                }
                sum += e;
            }
        EXPECT_LE(sum / (src.width() * src.height()), 12) << file.toStdString();
    }
    // The margin band around the sheet is the transparent entry.
    for (int x = 0; x < 96; ++x)
        EXPECT_EQ(sheet.pixelIndex(x, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, Palette, ::testing::Values(1, 0));

TEST_F(VintrixTest, ManyColoursGetAtMost256EntriesForEverySheet) {
    std::mt19937 rng(5);
    for (int i = 0; i < 12; ++i)
        save(randomSprite(rng, 30, 30), QString("noise%1.png").arg(i));
    const RunResult r = pack(64, 64, "q", 8, 1, 0);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    int sheets = 0;
    readFrames(QDir(path("Output")), "q", &sheets);
    ASSERT_EQ(sheets, 3);
    for (const QString f : {"q.png", "q-2.png", "q-3.png"}) {
        const QImage img = readImage(path("Output/" + f));
        EXPECT_EQ(img.format(), QImage::Format_Indexed8) << f.toStdString();
        EXPECT_LE(img.colorCount(), 256);
        EXPECT_GT(img.colorCount(), 64) << "noise deserves a full palette";
    }
}

// ---- sheet size -----------------------------------------------------------

TEST_F(VintrixTest, AVeryWideSheetWithFewImages) {
    std::mt19937 rng(9);
    const QImage a = randomSprite(rng, 10, 6), b = randomSprite(rng, 7, 8);
    save(a, "a.png");
    save(b, "b.png");
    const RunResult r = pack(65536, 9, "wide", 32, 1, 0);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    const auto frames = readFrames(QDir(path("Output")), "wide");
    const QImage sheet = readImage(path("Output/wide.png"));
    ASSERT_EQ(sheet.size(), QSize(65536, 9));
    EXPECT_TRUE(samePixels(sheet, frames.at("a.png").rect, a));
    EXPECT_TRUE(samePixels(sheet, frames.at("b.png").rect, b));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
