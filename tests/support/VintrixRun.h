// Runs the real Vintrix as a child process and reads back what it wrote:
// sprites to pack, the files in Output, the frames of NAME.json and the
// data files it names, and whether each frame shows its sprite. Shared by
// every test that drives the packer from outside; Qt only, so that GoogleTest
// and Qt Test programs both use it.
#pragma once

#include <functional>
#include <map>
#include <random>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>

namespace vintrix::test {

enum Exit { Ok = 0, BadArguments = 2, BadInput = 3, OutputFailed = 4 };

struct RunResult {
    int exitCode = -1;  // -1 when ended by a signal
    QString out, err;
};

// `setup` runs in the child before Vintrix starts (a resource limit, say).
inline RunResult RunVintrix(const QString& workDir, const QStringList& args,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(), std::function<void()> setup = {})
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.setProcessEnvironment(env);
    if (setup)
        p.setChildProcessModifier(setup);
    p.start(QStringLiteral(VINTRIX_BINARY), args);
    RunResult r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline QImage FlatSprite(int w, int h, QColor colour)
{
    QImage img(w, h, QImage::Format_RGBA8888);
    img.fill(colour);
    return img;
}

// Opaque and see-through areas, full and partial alpha.
inline QImage RandomSprite(std::mt19937& rng, int w, int h)
{
    QImage img(w, h, QImage::Format_RGBA8888);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = (x + y) % 5 == 0 ? 0 : (x % 3 == 0 ? byte(rng) : 255);
            img.setPixelColor(x, y, QColor(byte(rng), byte(rng), byte(rng), a));
        }
    return img;
}

// Vintrix's lock and its record of which name wrote which files.
inline bool IsBookkeeping(const QString& file)
{
    return file == ".vintrix.lock" || file == ".vintrix-sets";
}

using Files = std::map<QString, QByteArray>;

// Every file directly in `dir` with its bytes, hidden ones included.
inline Files FilesIn(const QString& dir, bool bookkeeping = false)
{
    Files files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!bookkeeping && IsBookkeeping(it.fileName()))
            continue;
        files[it.fileName()] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }
    return files;
}

struct Frame {
    QString sheet;  // the sheet's file name in Output
    QRect rect;     // the sprite's place and its own (trimmed) size, even when rotated
    bool rotated = false;
    bool trimmed = false;
    QRect stored;      // where the sprite's stored pixels go in the original image
    QSize sourceSize;  // the original image's size
};

struct Atlas {
    std::map<QString, Frame> frames;
    std::map<QString, QSize> sheetSizes;  // as the data gives them
    QStringList dataFiles;                // NAME.json first, then the ones it names
    QString error;                        // empty when every data file could be read, and no name is listed twice
};

inline Atlas ReadAtlas(const QString& outputDir, const QString& name)
{
    Atlas atlas;
    atlas.dataFiles << name + ".json";
    for (int i = 0; i < atlas.dataFiles.size(); ++i) {
        QFile f(outputDir + "/" + atlas.dataFiles[i]);
        QJsonParseError parse;
        const QJsonObject root =
            QJsonDocument::fromJson(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(), &parse).object();
        if (parse.error != QJsonParseError::NoError) {
            atlas.error = atlas.dataFiles[i] + " is missing or not JSON";
            return atlas;
        }
        const QJsonObject meta = root["meta"].toObject();
        const QJsonObject size = meta["size"].toObject();
        atlas.sheetSizes[meta["image"].toString()] = QSize(size["w"].toInt(), size["h"].toInt());
        if (i == 0)
            for (const QJsonValue& v : meta["related_multi_packs"].toArray())
                atlas.dataFiles << v.toString();
        const QJsonObject frames = root["frames"].toObject();
        for (auto it = frames.begin(); it != frames.end(); ++it) {
            const QJsonObject f = it->toObject(), r = f["frame"].toObject(), s = f["spriteSourceSize"].toObject(),
                              source = f["sourceSize"].toObject();
            if (atlas.frames.count(it.key()))
                atlas.error = it.key() + " is listed twice";
            atlas.frames[it.key()] = {meta["image"].toString(),
                QRect(r["x"].toInt(), r["y"].toInt(), r["w"].toInt(), r["h"].toInt()), f["rotated"].toBool(),
                f["trimmed"].toBool(), QRect(s["x"].toInt(), s["y"].toInt(), s["w"].toInt(), s["h"].toInt()),
                QSize(source["w"].toInt(), source["h"].toInt())};
        }
    }
    return atlas;
}

// Empty when the sheet shows `source` at `at` pixel for pixel, alpha and
// the colour of transparent pixels included; else where it differs.
inline QString FrameDiffers(const QImage& sheet, const QRect& at, const QImage& source)
{
    const QImage a = sheet.convertToFormat(QImage::Format_RGBA8888);
    const QImage b = source.convertToFormat(QImage::Format_RGBA8888);
    if (at.size() != b.size() || !QRect(QPoint(), a.size()).contains(at))
        return QStringLiteral("the frame's size or place is wrong");
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            if (a.pixel(at.x() + x, at.y() + y) != b.pixel(x, y))
                return QStringLiteral("pixel %1,%2 differs").arg(x).arg(y);
    return {};
}

// Empty when NAME's data files can be read and every frame they list shows
// its sprite from `spriteDir` (as Qt reads it); else the first fault.
inline QString FramesDiffer(const QString& outputDir, const QString& name, const QString& spriteDir)
{
    const Atlas atlas = ReadAtlas(outputDir, name);
    if (!atlas.error.isEmpty())
        return atlas.error;
    std::map<QString, QImage> sheets;
    for (const auto& [file, frame] : atlas.frames) {
        QImage& sheet = sheets[frame.sheet];
        if (sheet.isNull())
            sheet = QImage(outputDir + "/" + frame.sheet);
        if (sheet.isNull())
            return frame.sheet + " cannot be read";
        const QString differs = FrameDiffers(sheet, frame.rect, QImage(spriteDir + "/" + file));
        if (!differs.isEmpty())
            return file + " on " + frame.sheet + ": " + differs;
    }
    return {};
}

}  // namespace vintrix::test
