// Runs the real Vintrix as a child process and reads back what it wrote:
// sprites to pack, the files in Output, the frames of NAME.json and the
// data files it names, and whether each frame shows its sprite. Shared by
// every test that drives the packer from outside; Qt only, so that GoogleTest
// and Qt Test programs both use it.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <random>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QMargins>
#include <QPointF>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QTransform>
#include <QUrl>
#include <QXmlStreamReader>

#include "PackerContract.h"

namespace vintrix::test {

enum Exit {
    Ok = toInt(ExitCode::Ok),
    BadArguments = toInt(ExitCode::BadArguments),
    BadInput = toInt(ExitCode::BadInput),
    OutputFailed = toInt(ExitCode::OutputFailed),
    Superseded = toInt(ExitCode::Superseded),
};

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
    if (!p.waitForFinished(120000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
        QString::fromUtf8(p.readAllStandardError())};
}

inline QImage FlatSprite(int w, int h, QColor colour)
{
    QImage img(w, h, QImage::Format_RGBA8888);
    img.fill(colour);
    return img;
}

// The file `format` makes of `img`.
inline QByteArray Encoded(const QImage& img, const char* format = "png")
{
    QByteArray bytes;
    QBuffer buffer(&bytes);  // opened by the save
    return img.save(&buffer, format, 95) ? bytes : QByteArray();
}

// `picture` as a nine-patch: inside a 1-pixel border of guides, black
// along the top and left where it stretches (between the `slices`) and
// along the bottom and right where its content goes (inside `padding`).
inline QImage NinePatch(const QImage& picture, QMargins slices, std::optional<QMargins> padding = {})
{
    // Transparent around the picture, as copy() fills what lies beyond an image.
    QImage img =
        picture.convertToFormat(QImage::Format_RGBA8888).copy(-1, -1, picture.width() + 2, picture.height() + 2);
    const auto mark = [&](QMargins m, int row, int column) {
        for (int x = 1 + m.left(); x <= picture.width() - m.right(); ++x)
            img.setPixelColor(x, row, Qt::black);
        for (int y = 1 + m.top(); y <= picture.height() - m.bottom(); ++y)
            img.setPixelColor(column, y, Qt::black);
    };
    mark(slices, 0, 0);
    if (padding)
        mark(*padding, img.height() - 1, img.width() - 1);
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

// The largest difference between two pixels in any channel, alpha included.
inline int ChannelError(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)),
        std::abs(qAlpha(a) - qAlpha(b))});
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

// The keys of a map by name, such as files or frames, in order.
template <class Map>
QStringList Names(const Map& map)
{
    QStringList names;
    for (const auto& [name, value] : map)
        names << name;
    return names;
}

// The atlas data formats of --data.
enum class Data { JsonHash, JsonArray, Phaser3, Libgdx, Starling, Css, Godot };

struct Frame {
    QString sheet;  // the sheet's file name in Output
    QRect rect;     // the top-left on the sheet and the size as stored, before any turn
    bool rotated = false;
    bool trimmed = false;
    QRect source;                       // where the stored pixels sit in the original image
    QSize sourceSize;                   // the original image's size
    std::optional<QPointF> pivot{};     // in the original's pixels
    std::optional<QMargins> borders{};  // a nine-slice's, in the original's pixels
    std::optional<QMargins> padding{};  // a nine-patch's content area
};

struct Atlas {
    std::map<QString, Frame> frames;           // libGDX: a frame with an index is NAME#INDEX; CSS: the class after
                                               // "NAME-"; Godot: the path in NAME/ without ".tres"
    QStringList order;                         // the frames in the order the data lists them (JSON hash: its keys)
    std::map<QString, QSize> sheets;           // each sheet's size as the data gives it (Starling, CSS: the file)
    std::map<QString, QJsonValue> animations;  // JSON hash and array; Godot (an array of frames)
    QString error;                             // empty when every data file could be read, and no name is listed twice
};

namespace detail {

inline QRect JsonRect(const QJsonValue& v)
{
    const QJsonObject r = v.toObject();
    return QRect(r["x"].toInt(), r["y"].toInt(), r["w"].toInt(), r["h"].toInt());
}

inline void AddFrame(Atlas& atlas, const QString& name, const QString& sheet, const QJsonObject& f)
{
    if (atlas.frames.count(name))
        atlas.error = name + " is listed twice";
    const QJsonObject size = f["sourceSize"].toObject();
    Frame& frame = atlas.frames[name] = {sheet, JsonRect(f["frame"]), f["rotated"].toBool(), f["trimmed"].toBool(),
        JsonRect(f["spriteSourceSize"]), QSize(size["w"].toInt(), size["h"].toInt())};
    // As PixiJS reads them: the anchor in fractions of the original, the
    // borders in its pixels.
    if (f.contains("anchor")) {
        const QJsonObject a = f["anchor"].toObject();
        frame.pivot =
            QPointF(a["x"].toDouble() * frame.sourceSize.width(), a["y"].toDouble() * frame.sourceSize.height());
    }
    if (f.contains("borders")) {
        const QJsonObject b = f["borders"].toObject();
        frame.borders = QMargins(b["left"].toInt(), b["top"].toInt(), b["right"].toInt(), b["bottom"].toInt());
    }
    atlas.order << name;
}

// The object in the file at `path`, its bytes in `text`.
inline QJsonObject ReadJson(const QString& path, QString& error, QByteArray& text)
{
    QFile f(path);
    QJsonParseError parse;
    text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        error = QFileInfo(path).fileName() + " is missing or not JSON";
    return doc.object();
}

// The keys of a JSON hash's frames in the order of the text, duplicates
// included: QJsonObject sorts its keys and keeps one of each, while
// JavaScript keeps them as written. Each frame's object opens with "frame".
inline QStringList FrameKeysAsWritten(const QByteArray& json)
{
    QStringList keys;
    static const QRegularExpression key("(\"(?:[^\"\\\\]|\\\\.)*\")\\s*:\\s*\\{\\s*\"frame\"\\s*:");
    for (auto it = key.globalMatch(QString::fromUtf8(json)); it.hasNext();)
        keys << QJsonDocument::fromJson("[" + it.next().captured(1).toUtf8() + "]").array().at(0).toString();
    return keys;
}

// libGDX's text format: pages apart by blank lines, each its image's name
// and "key: value" lines, then its regions, each a name and indented fields.
inline void ReadLibgdx(const QString& outputDir, const QString& name, Atlas& atlas)
{
    QFile f(outputDir + "/" + name + ".atlas");
    if (!f.open(QIODevice::ReadOnly)) {
        atlas.error = name + ".atlas is missing";
        return;
    }
    QString page, region;
    std::map<QString, QList<int>> fields;
    const auto finishRegion = [&] {
        if (region.isEmpty())
            return;
        const QList<int> xy = fields["xy"], size = fields["size"], orig = fields["orig"], offset = fields["offset"];
        const QList<int> index = fields["index"];
        if (xy.size() != 2 || size.size() != 2 || orig.size() != 2 || offset.size() != 2 || index.size() != 1 ||
            (fields.count("split") && fields["split"].size() != 4) ||
            (fields.count("pad") && fields["pad"].size() != 4)) {
            atlas.error = region + " lacks a field";
            return;
        }
        const QString name = index[0] >= 0 ? region + "#" + QString::number(index[0]) : region;
        if (atlas.frames.count(name))
            atlas.error = name + " is listed twice";
        // libGDX measures the offset from the bottom of the original.
        const QRect source(offset[0], orig[1] - offset[1] - size[1], size[0], size[1]);
        Frame& frame = atlas.frames[name] = {page, QRect(xy[0], xy[1], size[0], size[1]),
            fields["rotate"] == QList<int>{1}, size != orig, source, QSize(orig[0], orig[1])};
        // left, right, top, bottom
        const auto margins = [](const QList<int>& n) { return QMargins(n[0], n[2], n[1], n[3]); };
        if (fields.count("split"))
            frame.borders = margins(fields["split"]);
        if (fields.count("pad"))
            frame.padding = margins(fields["pad"]);
        atlas.order << name;
        region.clear();
    };
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
        if (line.trimmed().isEmpty()) {
            finishRegion();
            page.clear();
            continue;
        }
        const int colon = line.indexOf(':');
        if (colon < 0) {
            finishRegion();
            (page.isEmpty() ? page : region) = line;
            fields.clear();
            continue;
        }
        const QString key = line.left(colon).trimmed(), value = line.mid(colon + 1).trimmed();
        QList<int> numbers;
        for (const QString& n : value.split(','))
            numbers << (n.trimmed() == "true" ? 1 : n.trimmed().toInt());
        if (region.isEmpty() && key == "size")
            atlas.sheets[page] = QSize(numbers.value(0), numbers.value(1));
        fields[key] = numbers;
    }
    finishRegion();
}

// Starling's XML as its TextureAtlas reads it: a file a sheet, NAME.xml,
// NAME-2.xml, ...; a SubTexture's width and height are its region on the
// sheet, which a rotated one shows turned counter-clockwise; a frame only
// where frameWidth and frameHeight are above 0; names with blanks at their
// ends cut.
inline void ReadStarling(const QString& outputDir, const QString& name, Atlas& atlas)
{
    for (int sheet = 1;; ++sheet) {
        const QString file = sheet == 1 ? name + ".xml" : QString("%1-%2.xml").arg(name).arg(sheet);
        QFile f(outputDir + "/" + file);
        if (!f.open(QIODevice::ReadOnly)) {
            if (sheet == 1)
                atlas.error = file + " is missing";
            return;
        }
        QXmlStreamReader xml(&f);
        QString image;
        while (xml.readNextStartElement()) {
            const QXmlStreamAttributes a = xml.attributes();
            const auto number = [&](const char* key) { return int(a.value(key).toDouble()); };
            if (xml.name() == u"TextureAtlas") {
                image = a.value("imagePath").toString();
                atlas.sheets[image] = QImageReader(outputDir + "/" + image).size();
                continue;  // into its SubTextures
            }
            const QString frame = a.value("name").toString().trimmed();
            const bool rotated = a.value("rotated") == u"true";
            const QSize size = QSize(number("width"), number("height"));
            const QRect rect(QPoint(number("x"), number("y")), rotated ? size.transposed() : size);
            const bool trimmed = number("frameWidth") > 0 && number("frameHeight") > 0;
            if (atlas.frames.count(frame))
                atlas.error = frame + " is listed twice";
            atlas.frames[frame] = {image, rect, rotated, trimmed,
                trimmed ? QRect(QPoint(-number("frameX"), -number("frameY")), rect.size())
                        : QRect(QPoint(), rect.size()),
                trimmed ? QSize(number("frameWidth"), number("frameHeight")) : rect.size()};
            if (a.hasAttribute("pivotX") || a.hasAttribute("pivotY"))
                atlas.frames[frame].pivot = QPointF(a.value("pivotX").toDouble(), a.value("pivotY").toDouble());
            atlas.order << frame;
            xml.skipCurrentElement();
        }
        if (xml.hasError())
            atlas.error = file + ": " + xml.errorString();
    }
}

// The class a selector of one class names, its escapes undone ("\31 " and
// "\." as "1" and "."), as CSS reads it; empty when it is not one class: a
// character that is not an identifier's unescaped, or a digit where an
// identifier cannot begin with one.
inline QString CssClass(const QString& selector)
{
    if (!selector.startsWith('.'))
        return {};
    QString out;
    for (qsizetype i = 1; i < selector.size(); ++i) {
        const QChar c = selector[i];
        if (c != '\\') {
            const qsizetype at = i - 1;
            const bool startsNumber = c.isDigit() && (at == 0 || (at == 1 && out == "-"));
            if (startsNumber || !(c.isLetterOrNumber() || c == '_' || c == '-' || c.unicode() >= 0x80))
                return {};
            out += c;
            continue;
        }
        qsizetype end = i + 1;
        while (end < selector.size() && end < i + 7 && isxdigit(selector[end].unicode()))
            ++end;
        if (end == i + 1) {
            if (i + 1 < selector.size())
                out += selector[++i];
            continue;
        }
        const char32_t codePoint = selector.mid(i + 1, end - i - 1).toUInt(nullptr, 16);
        out += QString::fromUcs4(&codePoint, 1);
        i = end < selector.size() && selector[end].isSpace() ? end : end - 1;
    }
    return out;
}

// NAME.css as a browser applies it to NAME.html: the rule of a class with
// no background is the shared one, every other class (of the page's
// elements, each with the shared class too) shows a region of width x
// height pixels at the negated background position on the sheet that
// url() names.
inline void ReadCss(const QString& outputDir, const QString& name, Atlas& atlas)
{
    QFile css(outputDir + "/" + name + ".css"), page(outputDir + "/" + name + ".html");
    if (!css.open(QIODevice::ReadOnly) || !page.open(QIODevice::ReadOnly)) {
        atlas.error = name + ".css or " + name + ".html is missing";
        return;
    }
    QString text = QString::fromUtf8(css.readAll());
    text.remove(QRegularExpression("/\\*.*?\\*/", QRegularExpression::DotMatchesEverythingOption));
    QString shared;
    std::vector<std::pair<QString, QMap<QString, QString>>> rules;
    static const QRegularExpression rule("\\s*([^{]+?)\\s*\\{([^}]*)\\}");
    for (auto it = rule.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QMap<QString, QString> declarations;
        for (const QString& d : m.captured(2).split(';', Qt::SkipEmptyParts))
            if (d.contains(':'))
                declarations[d.section(':', 0, 0).trimmed()] = d.section(':', 1).trimmed();
        const QString cls = CssClass(m.captured(1));
        if (cls.isEmpty())
            atlas.error = "a rule not for one class: " + m.captured(1);
        if (!declarations.contains("background"))
            shared = cls;
        else
            rules.emplace_back(cls, declarations);
    }
    const QString html = QString::fromUtf8(page.readAll());
    QStringList classes;  // as the page's elements have them
    static const QRegularExpression attribute("class=\"([^\"]*)\"");
    for (auto it = attribute.globalMatch(html); it.hasNext();) {
        QString value = it.next().captured(1);
        classes << value.replace("&quot;", "\"").replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&");
    }
    if (!html.contains(
            "<link rel=\"stylesheet\" href=\"" + QString::fromLatin1(QUrl::toPercentEncoding(name)) + ".css\">"))
        atlas.error = name + ".html does not link " + name + ".css";
    static const QRegularExpression background("url\\(\"([^\"]*)\"\\) no-repeat (-?\\d+)(?:px)? (-?\\d+)(?:px)?");
    for (const auto& [cls, declarations] : rules) {
        const QRegularExpressionMatch m = background.match(declarations.value("background"));
        const QString key = cls.mid(shared.size() + 1);
        if (shared.isEmpty() || !cls.startsWith(shared + "-") || !m.hasMatch())
            atlas.error = cls + ": no shared class or no background";
        if (!classes.contains(shared + " " + cls))
            atlas.error = name + ".html does not show " + cls;
        if (atlas.frames.count(key))
            atlas.error = key + " is listed twice";
        const QString image = QUrl::fromPercentEncoding(m.captured(1).toUtf8());
        atlas.sheets[image] = QImageReader(outputDir + "/" + image).size();
        const QSize size(
            declarations.value("width").remove("px").toInt(), declarations.value("height").remove("px").toInt());
        atlas.frames[key] = {image, QRect(QPoint(-m.captured(2).toInt(), -m.captured(3).toInt()), size), false, false,
            QRect(QPoint(), size), size};
        atlas.order << key;
    }
}

// A Godot text resource: its external resources' paths by id, and the
// properties of its [resource] section, each value as written (over lines
// until its brackets close).
struct GodotResource {
    QString type;
    std::map<QString, QString> paths;
    std::map<QString, QString> properties;
};

inline std::optional<GodotResource> ReadGodotResource(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    GodotResource r;
    static const QRegularExpression header("^\\[gd_resource type=\"(\\w+)\"[^\\]]* format=3\\]$");
    static const QRegularExpression ext("^\\[ext_resource type=\"Texture2D\" path=\"([^\"]*)\" id=\"(\\w+)\"\\]$");
    static const QRegularExpression property("^(\\w+) = (.*)$");
    const auto open = [](const QString& v) { return v.count('[') + v.count('{') != v.count(']') + v.count('}'); };
    QString section, key;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
        if (!key.isEmpty()) {  // a value over several lines
            r.properties[key] += "\n" + line;
            if (!open(r.properties[key]))
                key.clear();
        } else if (const auto m = header.match(line); m.hasMatch()) {
            r.type = m.captured(1);
        } else if (const auto e = ext.match(line); e.hasMatch()) {
            r.paths[e.captured(2)] = e.captured(1).replace("\\\"", "\"").replace("\\\\", "\\");
        } else if (line.startsWith('[')) {
            section = line;
        } else if (const auto p = property.match(line); p.hasMatch() && section == "[resource]") {
            r.properties[p.captured(1)] = p.captured(2);
            if (open(p.captured(2)))
                key = p.captured(1);
        } else if (!line.isEmpty()) {
            return std::nullopt;
        }
    }
    return r.type.isEmpty() ? std::nullopt : std::optional(r);
}

inline std::optional<QRect> GodotRect(const QString& value)
{
    static const QRegularExpression rect("^Rect2\\((-?\\d+), (-?\\d+), (-?\\d+), (-?\\d+)\\)$");
    const auto m = rect.match(value);
    if (!m.hasMatch())
        return std::nullopt;
    return QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
}

// Godot's resources as it loads them: an AtlasTexture for each .tres in
// NAME/ and its folders, its sheet by a path relative to the file, its
// region, and a margin whose position is where the region sits in the
// texture and whose size is what the texture has beyond the region; and
// NAME.tres's SpriteFrames, each animation's textures in order.
inline void ReadGodot(const QString& outputDir, const QString& name, Atlas& atlas)
{
    const QDir folder(outputDir + "/" + name);
    QDirIterator it(folder.path(), {"*.tres"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next(), key = folder.relativeFilePath(path).chopped(5);
        auto r = ReadGodotResource(path);
        const auto region =
            r ? GodotRect(r->properties["atlas"] == "ExtResource(\"1\")" ? r->properties["region"] : "") : std::nullopt;
        if (!r || r->type != "AtlasTexture" || !region || r->properties["filter_clip"] != "true") {
            atlas.error = path + " is not an AtlasTexture of a region";
            return;
        }
        const QString sheet = QDir::cleanPath(QFileInfo(path).dir().filePath(r->paths["1"]));
        if (QFileInfo(sheet).dir() != QDir(outputDir)) {
            atlas.error = path + ": the sheet is not in the output folder";
            return;
        }
        const QString image = QFileInfo(sheet).fileName();
        atlas.sheets[image] = QImageReader(outputDir + "/" + image).size();
        const auto margin = r->properties.count("margin") ? GodotRect(r->properties["margin"]) : QRect();
        atlas.frames[key] = {image, *region, false, margin.has_value() && !margin->isNull(),
            QRect(margin.value_or(QRect()).topLeft(), region->size()),
            region->size() + margin.value_or(QRect()).size()};
        atlas.order << key;
    }
    if (atlas.frames.empty())
        atlas.error = folder.path() + " holds no resources";
    if (!QFileInfo::exists(outputDir + "/" + name + ".tres"))
        return;
    auto frames = ReadGodotResource(outputDir + "/" + name + ".tres");
    if (!frames || frames->type != "SpriteFrames") {
        atlas.error = name + ".tres is not a SpriteFrames";
        return;
    }
    static const QRegularExpression animation("\"frames\": \\[(.*?)\\],\\n\"loop\": true,\\n\"name\": &\"([^\"]*)\"",
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression texture("\"texture\": ExtResource\\(\"(\\w+)\"\\)");
    for (auto a =
             animation.globalMatch(frames->properties.count("animations") ? frames->properties.at("animations") : "");
         a.hasNext();) {
        const auto m = a.next();
        QJsonArray list;
        for (auto t = texture.globalMatch(m.captured(1)); t.hasNext();)
            list << folder.relativeFilePath(outputDir + "/" + frames->paths.at(t.next().captured(1))).chopped(5);
        atlas.animations[m.captured(2)] = list;
    }
}

}  // namespace detail

// The frames of NAME's data files in `format`.
inline Atlas ReadAtlas(const QString& outputDir, const QString& name, Data format = Data::JsonHash)
{
    Atlas atlas;
    using Reader = void (*)(const QString&, const QString&, Atlas&);
    static const std::map<Data, Reader> readers{{Data::Libgdx, detail::ReadLibgdx},
        {Data::Starling, detail::ReadStarling}, {Data::Css, detail::ReadCss}, {Data::Godot, detail::ReadGodot}};
    if (readers.count(format)) {
        readers.at(format)(outputDir, name, atlas);
        return atlas;
    }
    QStringList files{name + ".json"};  // then the ones it names
    QByteArray text;
    if (format == Data::Phaser3) {
        const QJsonObject root = detail::ReadJson(outputDir + "/" + files[0], atlas.error, text);
        for (const QJsonValue& t : root["textures"].toArray()) {
            const QString image = t["image"].toString();
            atlas.sheets[image] = detail::JsonRect(t["size"]).size();
            for (const QJsonValue& f : t["frames"].toArray())
                detail::AddFrame(atlas, f["filename"].toString(), image, f.toObject());
        }
        return atlas;
    }
    for (int i = 0; i < files.size() && atlas.error.isEmpty(); ++i) {
        const QJsonObject root = detail::ReadJson(outputDir + "/" + files[i], atlas.error, text);
        const QJsonObject meta = root["meta"].toObject();
        const QString image = meta["image"].toString();
        atlas.sheets[image] = detail::JsonRect(meta["size"]).size();
        if (i == 0)
            for (const QJsonValue& v : meta["related_multi_packs"].toArray())
                files << v.toString();
        const QJsonObject animations = root["animations"].toObject();
        for (auto it = animations.begin(); it != animations.end(); ++it)
            atlas.animations[it.key()] = *it;
        if (format == Data::JsonArray) {
            for (const QJsonValue& f : root["frames"].toArray())
                detail::AddFrame(atlas, f["filename"].toString(), image, f.toObject());
        } else {
            const QJsonObject frames = root["frames"].toObject();
            for (const QString& key : detail::FrameKeysAsWritten(text))
                detail::AddFrame(atlas, key, image, frames[key].toObject());
        }
    }
    return atlas;
}

// The original image as a frame stores it: turned back the way `format`
// turns a rotated sprite, and put at its place in the original's size,
// transparent around it.
inline QImage StoredImage(const QImage& sheet, const Frame& frame, Data format)
{
    const QRect region = frame.rotated ? QRect(frame.rect.topLeft(), frame.rect.size().transposed()) : frame.rect;
    QImage stored = sheet.copy(region).convertToFormat(QImage::Format_RGBA8888);
    if (frame.rotated)  // JSON and Starling store it turned clockwise, libGDX counter-clockwise
        stored = stored.transformed(QTransform().rotate(format == Data::Libgdx ? 90 : -90));
    // copy() fills what lies beyond `stored` with transparent pixels.
    return frame.trimmed ? stored.copy(QRect(-frame.source.topLeft(), frame.sourceSize)) : stored;
}

// Empty when NAME's data files can be read, give each sheet's true size,
// and every frame they list shows its sprite from `spriteDir` pixel for
// pixel, alpha and the colour of transparent pixels included (as Qt reads
// it; `file` maps a frame's name to its file name); else the first fault.
inline QString FramesDiffer(const QString& outputDir, const QString& name, const QString& spriteDir,
    Data format = Data::JsonHash, std::function<QString(const QString&)> file = {})
{
    const Atlas atlas = ReadAtlas(outputDir, name, format);
    if (!atlas.error.isEmpty())
        return atlas.error;
    std::map<QString, QImage> sheets;
    for (const auto& [sheetFile, size] : atlas.sheets) {
        sheets[sheetFile] = QImage(outputDir + "/" + sheetFile);
        if (sheets[sheetFile].size() != size)
            return sheetFile + " is missing or not the size its data gives";
    }
    for (const auto& [key, frame] : atlas.frames) {
        const QImage& sheet = sheets[frame.sheet];
        if (sheet.isNull())
            return frame.sheet + " cannot be read";
        const QImage stored = StoredImage(sheet, frame, format);
        const QImage source =
            QImage(spriteDir + "/" + (file ? file(key) : key)).convertToFormat(QImage::Format_RGBA8888);
        if (stored.size() != source.size())
            return key + " on " + frame.sheet + ": the frame's size is wrong";
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                if (stored.pixel(x, y) != source.pixel(x, y))
                    return key + " on " + frame.sheet + QStringLiteral(": pixel %1,%2 differs").arg(x).arg(y);
    }
    return {};
}

}  // namespace vintrix::test
