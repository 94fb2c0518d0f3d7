// Each atlas data format, and the options that name frames, through the
// real Vintrix: the data read back as its engine reads it, and every frame
// compared with its source, pixel for pixel.
#include "PackerContract.h"
#include "VintrixFolder.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <set>

namespace vintrix::test {

struct FormatCase {
    const char* label;  // the value of --data
    Data format;
    bool fileEachSheet;  // else one data file for every sheet
    const char* ext;     // of the data files
    const char* page;    // a file beside them, or ""
};

const FormatCase kFormats[] = {{"json-hash", Data::JsonHash, true, ".json", ""},
    {"json-array", Data::JsonArray, true, ".json", ""}, {"phaser3", Data::Phaser3, false, ".json", ""},
    {"libgdx", Data::Libgdx, false, ".atlas", ""}, {"starling", Data::Starling, true, ".xml", ""},
    {"css", Data::Css, false, ".css", "s.html"}, {"godot", Data::Godot, false, "/", ""}};

// The frame of the file `file` as `format` names it: CSS by a class, without
// the extension and with "-" for blanks and "/"; Godot by a resource file,
// without the extension.
QString FrameOf(Data format, QString file)
{
    if (format != Data::Css && format != Data::Godot)
        return file;
    file.chop(4);  // ".png"
    return format == Data::Css ? file.replace(QRegularExpression("[ /]"), "-") : file;
}

class DataFormat : public VintrixFolder, public ::testing::WithParamInterface<FormatCase> {};

// A sprite in a subfolder is named by its path. Where each sheet has a data
// file, an animation whose frames land on two sheets (walk_10.png fills
// one) is left out rather than played in part, while one whose frames share
// a sheet (jump_*.png, the same pixels) is listed.
TEST_P(DataFormat, NamesEveryFrameWhereItsPixelsAreAndReplacesAnEarlierFormatsFiles)
{
    const FormatCase c = GetParam();
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> side(4, 20);
    QStringList names{"walk_1.png", "walk_2.png", "walk_10.png", "a b.png", "ünï.png", "jump_1.png"};
    for (int i = 0; i < 12; ++i)
        names << QString("s%1.png").arg(i);
    names << "sub/b.png";
    ASSERT_TRUE(work_.mkpath("sprites/sub"));
    std::map<QString, QImage> images;
    for (const QString& name : names)
        save(images[name] = name == "walk_10.png" ? RandomSprite(rng, 46, 46) : RandomSprite(rng, side(rng), side(rng)),
            name);
    save(images["jump_1.png"], "jump_2.png");
    // The pixels of walk_1.png in other bytes are stored once; one pixel apart, not.
    writeBytes("sprites/same.png", Encoded(images["walk_1.png"]));
    QImage near = images["walk_1.png"];
    near.setPixel(0, 0, ~near.pixel(0, 0));
    save(near, "near.png");
    names += {"same.png", "near.png", "jump_2.png"};

    // An earlier run in another format, whose data files this run replaces.
    const QString other = c.format == Data::Libgdx ? "json-hash" : "libgdx";
    ASSERT_EQ(run({"48", "48", "s", "32", "1", "1", sprites(), "--data", other}).exitCode, Ok);
    const RunResult r = run(QStringList{"48", "48", "s", "32", "1", "1", sprites(), "--data", c.label, "--recursive"} +
        (c.fileEachSheet ? QStringList{"--animations"} : QStringList()));
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();

    const QString wayIn = "s" + QString(c.ext);
    EXPECT_TRUE(r.out.endsWith(" with atlas data Output/" + wayIn + "\n")) << r.out.toStdString();
    const QStringList written = Names(output());
    QStringList expected;
    for (const QString& file : written.filter(QRegularExpression("\\.png$")))
        expected << file << (c.fileEachSheet ? QFileInfo(file).completeBaseName() + c.ext : QString());
    ASSERT_GE(expected.size(), 4) << "a single sheet";
    if (!c.fileEachSheet && !wayIn.endsWith('/'))  // not a folder of files
        expected << wayIn << c.page;
    expected.removeAll(QString());
    expected.sort();
    EXPECT_EQ(written, expected);

    const Atlas atlas = ReadAtlas(path("Output"), "s", c.format);
    ASSERT_EQ(atlas.error, "");
    std::map<QString, QString> file;  // of each frame
    for (const QString& name : names)
        file[FrameOf(c.format, name)] = name;
    EXPECT_EQ(Names(atlas.frames), Names(file));
    const auto frame = [&](const char* name) { return atlas.frames.at(FrameOf(c.format, name)); };
    EXPECT_EQ(frame("same.png").rect, frame("walk_1.png").rect);
    EXPECT_NE(frame("near.png").rect, frame("walk_1.png").rect);
    if (c.format == Data::JsonHash || c.format == Data::JsonArray) {
        EXPECT_EQ(atlas.animations.count("walk"), 0u);
        EXPECT_EQ(atlas.animations.at("jump").toVariant().toStringList(), QStringList({"jump_1.png", "jump_2.png"}));
    }
    EXPECT_EQ(
        FramesDiffer(path("Output"), "s", path("sprites"), c.format, [&](const QString& key) { return file[key]; }),
        "");
}

INSTANTIATE_TEST_SUITE_P(Formats, DataFormat, ::testing::ValuesIn(kFormats));

// A format Vintrix writes without a row above would go untested, and one
// --help or the manual page leaves out, undescribed; the manual page and
// the README give FORMAT's codes as the table does.
TEST_F(VintrixFolder, EveryFormatIsTestedAndDescribed)
{
    const RunResult r = run({"--data", "?", "8", "8", "s", "32", "1", "0", sprites()});
    QStringList tested;
    for (const FormatCase& c : kFormats)
        tested << c.label;
    EXPECT_EQ(r.err,
        "error: data format must be " + tested.mid(0, tested.size() - 1).join(", ") + " or " + tested.last() +
            ", not \"?\"\n");
    const RunResult help = run({"--help"}), version = run({"--version"});
    EXPECT_TRUE(Ran(help) && Ran(version));
    EXPECT_TRUE(help.out.startsWith("Usage: Vintrix WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER\n"));
    for (const QString& name : tested)
        EXPECT_TRUE(help.out.contains("\n  " + name + " ")) << name.toStdString();
    EXPECT_TRUE(version.out.startsWith("Vintrix 1."));

    QFile manual(VINTRIX_MANUAL), readme(VINTRIX_README);
    ASSERT_TRUE(manual.open(QIODevice::ReadOnly) && readme.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(manual.readAll());
    const QString formats = page.section(".SH DATA FORMATS\n", 1).section("\n.SH ", 0, 0);
    const QString option = page.section(".BI \\-\\-data \" FORMAT\"\n", 1).section("\n.TP", 0, 0);
    for (QString name : tested) {
        name.replace("-", "\\-");
        EXPECT_TRUE(formats.contains(".TP\n.B " + name + "\n")) << name.toStdString();
        EXPECT_TRUE(option.contains(" " + name + " ") || option.contains(" " + name + "\n")) << name.toStdString();
    }
    const QString codes = page.section(".I FORMAT\n", 1).section("\n.TP", 0, 0);
    const QString row = QString::fromUtf8(readme.readAll()).section("\n| FORMAT |", 1).section("\n", 0, 0);
    for (const vintrix::SheetFormat& format : vintrix::kSheetFormats) {
        const QString code = QString::number(vintrix::ToCode(format.code)), name = QString::fromLatin1(format.name);
        EXPECT_TRUE(codes.contains(code + " for " + name)) << codes.toStdString();
        EXPECT_TRUE(row.contains(code + " = " + name)) << row.toStdString();
    }
}

// Godot's folder NAME/ is the output's like its other files: a file no
// longer written goes, and the folder with the last of them, but not a
// file of the user's in it; and a link in its place is not followed.
TEST_F(VintrixFolder, GodotsFolderGoesWithItsLastFile)
{
    ASSERT_TRUE(work_.mkpath("sprites/sub") && work_.mkpath("Output") && work_.mkpath("elsewhere"));
    save(FlatSprite(3, 3, Qt::red), "a.png");
    save(FlatSprite(4, 4, Qt::blue), "sub/b.png");
    const QStringList args{"16", "16", "s", "32", "1", "0", sprites(), "--data", "godot", "--recursive"};
    ASSERT_TRUE(QFile::link(path("elsewhere"), path("Output/s")));
    const RunResult r = run(args);
    EXPECT_EQ(r.exitCode, OutputFailed);
    EXPECT_EQ(r.err, "error: cannot write Output/s/a.tres: Output/s is not a folder\n");
    EXPECT_TRUE(QDir(path("elsewhere")).isEmpty());
    ASSERT_TRUE(QFile::remove(path("Output/s")));

    ASSERT_EQ(run(args).exitCode, Ok);
    ASSERT_TRUE(QFile::remove(path("sprites/a.png")));
    writeBytes("Output/s/mine.txt", "kept");
    ASSERT_TRUE(Ran(run(args)));
    EXPECT_EQ(Names(ReadAtlas(path("Output"), "s", Data::Godot).frames), QStringList{"sub/b"});  // a.tres went
    ASSERT_EQ(run(QStringList(args.mid(0, 7)) << "--recursive").exitCode, Ok);
    EXPECT_EQ(QDir(path("Output/s")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"mine.txt"});
    ASSERT_TRUE(QFile::remove(path("Output/s/mine.txt")));
    ASSERT_EQ(run(args).exitCode, Ok);
    // Where the folder became a link, the files the link leads to stay.
    ASSERT_TRUE(QDir().rename(path("Output/s"), path("elsewhere/s")));
    ASSERT_TRUE(QFile::link(path("elsewhere/s"), path("Output/s")));
    ASSERT_EQ(run(QStringList(args.mid(0, 7)) << "--recursive").exitCode, Ok);
    EXPECT_TRUE(QFileInfo::exists(path("elsewhere/s/sub/b.tres")));
    ASSERT_TRUE(QFile::remove(path("Output/s")));
    ASSERT_EQ(run(args).exitCode, Ok);
    ASSERT_EQ(run(QStringList(args.mid(0, 7)) << "--recursive").exitCode, Ok);
    EXPECT_FALSE(QFileInfo::exists(path("Output/s")));
}

// On one sheet, named with and without their extensions: numbered frames
// grouped by the name before the number, whatever the separator and the
// dots before it, played in the order of the numbers, and every format's
// frames (the JSON hash's keys too) listed in natural order. Pivots and
// nine-slices from the settings file's tables, a later table winning, and a
// nine-patch's guides, read back wherever the format holds them: JSON's
// anchor (fractions of the original) and borders, as PixiJS reads them;
// libGDX's split and pad; Starling's pivotX and pivotY (pixels of the
// original). Trimmed, a sprite keeps its pivot in the original; one with a
// nine-slice is not trimmed. Every frame shows its pixels, a nine-patch
// without its guides.
TEST_P(DataFormat, AnimationsPivotsAndNineSlicesAreWrittenWhereTheFormatHoldsThem)
{
    const FormatCase c = GetParam();
    std::mt19937 rng(4);
    const auto bordered = [&](int w, int h) {  // a transparent column at each side, for --trim
        QImage img = RandomSprite(rng, w - 2, h).copy(-1, 0, w, h);
        img.setPixelColor(1, 1, Qt::red);
        return img;
    };
    // Each file's stem and its frame in libGDX's data, which carries an
    // animation as one name with an index a frame; in natural order.
    const std::vector<std::pair<QString, QString>> frames{{"boss.idle_1", "boss.idle#1"},
        {"boss.idle_2", "boss.idle#2"}, {"button.9", "button.9"}, {"hero_1", "hero_1"}, {"idle", "idle"},
        {"panel", "panel"}, {"run-1", "run-1"}, {"walk-3", "walk#3"}, {"walk2", "walk#2"}, {"walk_1", "walk#1"},
        {"walk_4", "walk#4"}, {"walk_10", "walk#10"}};
    for (const auto& [stem, region] : frames)
        if (stem != "button.9")
            save(stem == "hero_1"     ? bordered(10, 8)
                    : stem == "panel" ? bordered(12, 12)
                                      : bordered(6, 6),
                stem + ".png");
    const QImage picture = bordered(9, 7);
    save(NinePatch(picture, QMargins(2, 1, 3, 2), QMargins(1, 2, 1, 1)), "button.9.png");
    ASSERT_TRUE(work_.mkpath("pictures"));
    save(picture, "button.9.png", nullptr, path("pictures"));
    writeBytes("sprites/vintrix.toml",
        "[sprites.\"*.png\"]\npivot = [0, 0]\n\n[sprites.\"hero_*.png\"]\npivot = [0.5, 1]\n"
        "[sprites.\"ghost_*.png\"]\npivot = [1, 1]\n"
        "[sprites.\"panel.png\"]\nnine-slice = [3, 2, 4, 1]\npivot = [0.25, 0.5]\n");
    const bool json = c.format == Data::JsonHash || c.format == Data::JsonArray || c.format == Data::Phaser3;
    const bool pivots = json || c.format == Data::Starling, borders = json || c.format == Data::Libgdx;
    for (const bool strip : {false, true}) {
        SCOPED_TRACE(strip ? "--strip-extensions" : "with extensions");
        const QString ext = strip ? "" : ".png";
        QStringList options{"--animations"};
        if (strip)
            options << "--strip-extensions";
        if (c.format != Data::Css)
            options << "--trim";
        const RunResult r = run(QStringList{"64", "64", "s", "32", "1", "1", sprites(), "--data", c.label} + options);
        ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
        EXPECT_EQ(
            r.err, "warning: \"" + sprites() + "vintrix.toml\", line 6: [sprites.\"ghost_*.png\"] matches no image\n");

        const Atlas atlas = ReadAtlas(path("Output"), "s", c.format);
        ASSERT_EQ(atlas.error, "");
        std::map<QString, QString> file, key;  // of each frame; of each stem
        QStringList order;
        for (const auto& [stem, region] : frames) {
            key[stem] = c.format == Data::Css || c.format == Data::Godot ? stem
                : c.format != Data::Libgdx                               ? stem + ext
                : region.contains('#')                                   ? region
                                                                         : region + ext;
            file[key[stem]] = (stem == "button.9" ? "../pictures/" : "") + stem + ".png";
            order << key[stem];
        }
        if (c.format == Data::Libgdx) {  // an animation's frames by their indices
            order = {"boss.idle#1", "boss.idle#2", "button.9" + ext, "hero_1" + ext, "idle" + ext, "panel" + ext,
                "run-1" + ext, "walk#1", "walk#2", "walk#3", "walk#4", "walk#10"};
        }
        if (c.format != Data::Godot)  // a file a frame, in no order
            EXPECT_EQ(atlas.order, order);
        if (c.format == Data::JsonHash || c.format == Data::JsonArray || c.format == Data::Godot) {
            const auto named = [&](QStringList stems) {
                for (QString& stem : stems)
                    stem += c.format == Data::Godot ? "" : ext;
                return stems;
            };
            EXPECT_EQ(Names(atlas.animations), (QStringList{"boss.idle", "walk"}));
            EXPECT_EQ(atlas.animations.at("walk").toVariant().toStringList(),
                named({"walk_1", "walk2", "walk-3", "walk_4", "walk_10"}));
            EXPECT_EQ(
                atlas.animations.at("boss.idle").toVariant().toStringList(), named({"boss.idle_1", "boss.idle_2"}));
        }

        const auto frame = [&](const char* stem) { return atlas.frames.at(key[stem]); };
        using Pivot = std::optional<QPointF>;
        using Margins = std::optional<QMargins>;
        EXPECT_EQ(frame("hero_1").pivot, pivots ? Pivot(QPointF(5, 8)) : Pivot());
        EXPECT_EQ(frame("panel").pivot, pivots ? Pivot(QPointF(3, 6)) : Pivot());
        EXPECT_EQ(frame("idle").pivot, pivots ? Pivot(QPointF(0, 0)) : Pivot());
        EXPECT_EQ(frame("panel").borders, borders ? Margins(QMargins(3, 2, 4, 1)) : Margins());
        EXPECT_EQ(frame("button.9").borders, borders ? Margins(QMargins(2, 1, 3, 2)) : Margins());
        EXPECT_EQ(frame("button.9").padding, c.format == Data::Libgdx ? Margins(QMargins(1, 2, 1, 1)) : Margins());
        EXPECT_EQ(frame("idle").borders, Margins());
        EXPECT_EQ(frame("hero_1").trimmed, c.format != Data::Css);
        EXPECT_FALSE(frame("panel").trimmed);
        EXPECT_EQ(
            FramesDiffer(path("Output"), "s", path("sprites"), c.format, [&](const QString& key) { return file[key]; }),
            "");
    }
}

// ---- options and names ----------------------------------------------------

// Options among the arguments, a name that starts with "-" and holds quotes
// and letters beyond ASCII, and the output where -o asks; --recursive reads
// subfolders, whatever their names and their files' hold, but neither links
// to folders nor the output folder.
TEST_F(VintrixFolder, OptionsMixWithTheArgumentsAndRecursiveReadsSubfoldersButNotTheOutput)
{
    std::mt19937 rng(3);
    const QString odd = "sprites/my \"spr'ites\" ü/";
    ASSERT_TRUE(work_.mkpath("sprites/sub/deeper") && work_.mkpath(odd) && work_.mkpath("out dir"));
    const QStringList files{"sprites/a.png", "sprites/sub/b.png", "sprites/sub/deeper/c.png", odd + "quote\"d.png",
        odd + "back\\slash.png", odd + "tab\tin.png", odd + "ünïcødé 日本.png"};
    for (const QString& file : files)
        save(RandomSprite(rng, 5, 7), file, nullptr, path("."));
    save(FlatSprite(3, 3, Qt::green), "out dir/old.png", nullptr, path("."));
    ASSERT_TRUE(QFile::link("..", path("sprites/sub/loop")));

    const QString name = "-sheet \"ä\" 'b'";
    const RunResult r = run({"--data", "json-hash", "32", "32", name, "32", "--recursive", "1", "0", ".",
        "--strip-extensions", "-o", "out dir/"});
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    EXPECT_EQ(r.out,
        "packed 7 images into 1 sheet of 32x32 (23.9% full): out dir/" + name + ".png with atlas data out dir/" + name +
            ".json\n");
    EXPECT_EQ(r.err,
        "warning: skipped 2 entries of \".\": \"out dir\" (the output folder), \"sprites/sub/loop\" (a link "
        "to a folder: not followed)\n");
    EXPECT_FALSE(outputExists());
    QStringList frames = files;
    frames.replaceInStrings(".png", "").sort();
    EXPECT_EQ(Names(ReadAtlas(path("out dir"), name).frames), frames);
    EXPECT_EQ(json("out dir/" + name + ".json")["meta"].toObject()["image"].toString(), name + ".png");
    EXPECT_EQ(
        FramesDiffer(path("out dir"), name, path("."), Data::JsonHash, [](const QString& key) { return key + ".png"; }),
        "");
}

}  // namespace vintrix::test
