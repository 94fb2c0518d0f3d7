// Vintrix as a step of a build: a depfile, identical output left untouched,
// --watch, and the README's Ninja and Make rules run for real. Its refusals
// are rows of the command-line test's message table.
#include "VintrixFolder.h"

#include <set>

#include <QRegularExpression>
#include <QThread>

namespace vintrix::test {

// Three sprites of 30x30 need three sheets of 32x32.
class BuildStep : public VintrixFolder {
protected:
    void SetUp() override
    {
        VintrixFolder::SetUp();
        for (const char* name : {"a.png", "b.png", "c.png"})
            save(FlatSprite(30, 30, QColor(name[0], 0, 0)), name);  // each of its own colour, stored apart
    }
};

// ---- --depfile ----------------------------------------------------------

// Run in the temporary folder on "sprites" with extra sprites and settings;
// the arguments are separated by "|". The depfile's rule names the targets
// and, one a line, the prerequisites.
struct DepfileCase {
    const char* label;
    const char* args;
    std::vector<const char*> extraSprites;  // paths in sprites/, folders created as needed
    const char* settings;                   // sprites/vintrix.toml; "" for none
    const char* depfile;
    const char* targets;
    QStringList prerequisites = {"sprites", "sprites/a.png", "sprites/b.png", "sprites/c.png"};
};

class Depfiles : public BuildStep, public ::testing::WithParamInterface<DepfileCase> {};

TEST_P(Depfiles, NameWhatTheRunWroteAndEverythingItRead)
{
    const DepfileCase& c = GetParam();
    for (const QString file : c.extraSprites) {
        ASSERT_TRUE(work_.mkpath(QFileInfo("sprites/" + file).path()));
        save(FlatSprite(5, 5, Qt::black), file);
    }
    ASSERT_TRUE(work_.mkpath("sprites/empty"));
    if (*c.settings)
        writeBytes("sprites/vintrix.toml", c.settings);
    ASSERT_TRUE(Ran(run(QString(c.args).split('|'))));
    QFile f(path(c.depfile));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // The rule, without the empty rules of its prerequisites after it.
    EXPECT_EQ(QString::fromUtf8(f.readAll()).section("\n\n", 0, 0),
        c.targets + QString(": \\\n  ") + c.prerequisites.join(" \\\n  "));
    EXPECT_EQ(f.permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);  // as the output's files
}

const DepfileCase kDepfiles[] = {
    // Each variant's data files in a row, the way in first.
    {"everyVariantFirstOneFirst",
        "32|32|n|32|1|0|sprites/|--depfile=n.d|--data|json-array|--variant|1:@2x|--variant|0.5", {}, "", "n.d",
        "Output/n@2x.json Output/n@2x-2.json Output/n@2x-3.json Output/n.json Output/n-2.json Output/n-3.json"},
    {"escaped", "64|64|n|32|1|0|sprites//|-o|out dir|--depfile|d $#.d|--strip-extensions", {"x y#$:\\ \\.png"}, "",
        "d $#.d", "out\\ dir/n.json",
        {"sprites", "sprites/a.png", "sprites/b.png", "sprites/c.png", "sprites/x\\ y\\#$$\\:\\\\\\ \\.png"}},
    {"inTheOutputFolder", "64|64|n|32|1|0|sprites|-o|a/b/c/|--depfile|a//b/c/n.d", {}, "", "a/b/c/n.d", "a/b/c/n.json"},
    {"subfoldersAndSettings", "64|64|n|32|1|0|sprites|--recursive", {"sub/d.png", "sub/deeper/e.png"},
        "depfile = \"../deps.d\"\n", "deps.d", "Output/n.json",
        {"sprites", "sprites/empty", "sprites/sub", "sprites/sub/deeper", "sprites/a.png", "sprites/b.png",
            "sprites/c.png", "sprites/sub/d.png", "sprites/sub/deeper/e.png", "sprites/vintrix.toml"}}};

INSTANTIATE_TEST_SUITE_P(Table, Depfiles, ::testing::ValuesIn(kDepfiles), ByLabel);

// ---- the README's Ninja and Make examples --------------------------------

struct Tool {
    const char* label;  // the program
    const char* file;
    const char* consumers;  // a step after each pack, appended to the example
    const char* ran;        // what a line that runs "pack NAME" or "use NAME" looks like
};

const Tool kNinja{"ninja", "build.ninja",
    "rule use\n  command = cat $in > $out\n  description = use $name\n"
    "build hero.use: use atlases/hero.json atlases/hero.png\n  name = hero\n"
    "build enemies.use: use atlases/enemies.json atlases/enemies.png\n  name = enemies\n",
    R"(^\[\d+/\d+\] (pack|use) (\w+)$)"};
const Tool kMake{"make", "Makefile", "all: hero.use enemies.use\n%.use: atlases/%.json atlases/%.png\n\tcat $^ > $@\n",
    R"(^(?:(Vintrix) 256 256 (\w+) |(cat) atlases/(\w+)\.json))"};

class Examples : public VintrixFolder, public ::testing::WithParamInterface<Tool> {
protected:
    void saveSprite(const QString& file, QColor colour) { save(FlatSprite(20, 20, colour), file); }
    // Each change comes at a later time than any file the last build wrote.
    void laterThanTheOutput()
    {
        const auto mtime = [](const QString& file) { return QFileInfo(file).lastModified(); };
        while (mtime(path("probe")) <= mtime(path("atlases/hero.json")) ||
            mtime(path("probe")) <= mtime(path("atlases/enemies.json"))) {
            QThread::msleep(2);
            writeBytes("probe", "");
        }
    }

    void SetUp() override
    {
        VintrixFolder::SetUp();
        ASSERT_TRUE(work_.mkpath("sprites/hero") && work_.mkpath("sprites/enemies"));
        saveSprite("hero/walk_1.png", Qt::red);
        saveSprite("hero/walk_2.png", Qt::green);
        saveSprite("enemies/bat.png", Qt::blue);
        // The indented block after the line "    # FILE" in the README, as it is.
        QFile readme(QStringLiteral(VINTRIX_README));
        ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(readme.readAll()).split('\n');
        QString example;
        for (qsizetype i = lines.indexOf("    # " + QString(GetParam().file)) + 1;
             i > 0 && lines.value(i).startsWith("    "); ++i)
            example += lines[i].mid(4) + '\n';
        ASSERT_FALSE(example.isEmpty()) << "no example " << GetParam().file << " in the README";
        writeBytes(GetParam().file, (example + GetParam().consumers).toUtf8());
        env_.insert("PATH", QFileInfo(VINTRIX_BINARY).absolutePath() + ":" + env_.value("PATH"));
    }

    // What the build, with Vintrix on the PATH, ran: "pack hero", "use enemies", ...
    std::set<QString> build()
    {
        QProcess p;
        p.setWorkingDirectory(work_.path());
        p.setProcessEnvironment(env_);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(GetParam().label);
        EXPECT_TRUE(p.waitForFinished(120000));
        const QString out = QString::fromUtf8(p.readAll());
        EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
        std::set<QString> ran;
        const QRegularExpression line(GetParam().ran, QRegularExpression::MultilineOption);
        for (auto it = line.globalMatch(out); it.hasNext();) {
            const QStringList m = it.next().capturedTexts().mid(1).filter(QRegularExpression(".+"));
            ran.insert((m[0] == "cat" || m[0] == "use" ? "use " : "pack ") + m[1]);
        }
        return ran;
    }
};

// One change to the sprites at a time, then a build, and what it runs.
TEST_P(Examples, RebuildWhatChangedAndNothingElse)
{
    const bool ninja = GetParam().label == std::string("ninja");
    const struct {
        const char* label;
        std::function<void()> change;
        std::set<QString> ninjaRuns, makeRuns;
    } steps[] = {
        {"first", [] {}, {"pack hero", "use hero", "pack enemies", "use enemies"},
            {"pack hero", "use hero", "pack enemies", "use enemies"}},
        {"nothingChanged", [] {}, {}, {}},
        {"touchedAlike", [&] { saveSprite("hero/walk_1.png", Qt::red); }, {"pack hero"}, {"pack hero"}},
        // Make, which keeps no record, packs again until the data changes.
        {"nothingChangedSince", [] {}, {}, {"pack hero"}},
        {"changed", [&] { saveSprite("hero/walk_2.png", Qt::yellow); }, {"pack hero", "use hero"},
            {"pack hero", "use hero"}},
        {"added", [&] { saveSprite("enemies/rat.png", Qt::gray); }, {"pack enemies", "use enemies"},
            {"pack hero", "pack enemies", "use enemies"}},
        {"removed", [&] { QFile::remove(path("sprites/enemies/rat.png")); }, {"pack enemies", "use enemies"},
            {"pack hero", "pack enemies", "use enemies"}},
        {"settingsAdded", [&] { writeBytes("sprites/hero/vintrix.toml", "trim = true\n"); }, {"pack hero"},
            {"pack hero"}},
        {"dataChanged",
            [&] {
                saveSprite("hero/walk_2.png", Qt::cyan);
                saveSprite("hero/walk_3.png", Qt::magenta);
            },
            {"pack hero", "use hero"}, {"pack hero", "use hero"}},
        {"nothingChangedAtLast", [] {}, {}, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.label);
        step.change();
        EXPECT_EQ(build(), ninja ? step.ninjaRuns : step.makeRuns);
        laterThanTheOutput();
    }
    EXPECT_EQ(FramesDiffer(path("atlases"), "hero", path("sprites/hero")), "");
    EXPECT_EQ(FramesDiffer(path("atlases"), "enemies", path("sprites/enemies")), "");
}

INSTANTIATE_TEST_SUITE_P(Tools, Examples, ::testing::Values(kNinja, kMake), ByLabel);

// ---- --watch ------------------------------------------------------------

class Watch : public BuildStep {
protected:
    void start(const QStringList& options)
    {
        p_.setWorkingDirectory(work_.path());
        p_.setProcessEnvironment(env_);
        p_.start(VINTRIX_BINARY, QStringList{"64", "64", "n", "32", "1", "0", "sprites", "--watch"} + options);
        ASSERT_TRUE(p_.waitForStarted());
    }
    // The lines of stdout (or stderr) once there are `count`, or all there are
    // when the process ends or `tenths` of a second pass.
    QStringList lines(qsizetype count, QProcess::ProcessChannel channel = QProcess::StandardOutput, int tenths = 600)
    {
        QString& text = channel == QProcess::StandardOutput ? out_ : err_;
        for (int waited = 0; text.count('\n') < count && waited < tenths; ++waited) {
            p_.waitForReadyRead(100);
            out_ += QString::fromUtf8(p_.readAllStandardOutput());
            err_ += QString::fromUtf8(p_.readAllStandardError());
            if (p_.state() == QProcess::NotRunning)
                break;
        }
        return text.split('\n', Qt::SkipEmptyParts);
    }
    QProcess p_;  // killed, if it still runs, when the test ends
    QString out_, err_;
};

TEST_F(Watch, RepacksOnceForEachChangeKeepsTheOutputOfAFailedOneRereadsTheSettingsAndEndsCleanly)
{
    start({"--depfile", "sprites/n.d"});  // a file Vintrix writes among the sprites is no change
    ASSERT_EQ(lines(1).size(), 1);
    save(FlatSprite(30, 30, Qt::yellow), "d.png");
    const QString packed = "packed 4 images into 1 sheet of 64x64 (87.9% full)%1: Output/n.png with atlas data "
                           "Output/n.json";
    ASSERT_EQ(lines(2).size(), 2);
    EXPECT_EQ(lines(2)[1], packed.arg(""));
    const Files before = output();
    // Identical files, the depfile too, are left untouched, and a failed run touches none: their times stay.
    const auto times = [&] {
        QList<qint64> found;
        for (const char* file : {"Output/n.png", "Output/n.json", "sprites/n.d"})
            found << QFileInfo(path(file)).lastModified().toMSecsSinceEpoch();
        return found;
    };
    const auto written = times();

    writeBytes("sprites/broken.png", "not a PNG");
    EXPECT_TRUE(lines(1, QProcess::StandardError).value(0).startsWith("error: \"broken.png\"")) << err_.toStdString();
    EXPECT_EQ(output(), before);
    QFile::remove(path("sprites/broken.png"));
    ASSERT_EQ(lines(3).size(), 3);
    EXPECT_EQ(lines(3)[2], packed.arg(", unchanged"));
    EXPECT_EQ(times(), written);
    // The settings file is read again.
    writeBytes("sprites/vintrix.toml", "data = \"json-array\"\n");
    ASSERT_EQ(lines(5).size(), 5);
    EXPECT_EQ(lines(5)[4], "settings from sprites/vintrix.toml: data = json-array");
    EXPECT_TRUE(json("Output/n.json").value("frames").isArray());
    // Five times the time changes take to settle, and no run of its own making.
    EXPECT_EQ(lines(6, QProcess::StandardOutput, 10).size(), 5) << out_.toStdString();

    const Files last = output();
    p_.terminate();
    ASSERT_TRUE(p_.waitForFinished(60000));
    EXPECT_EQ(lines(6).size(), 5) << out_.toStdString();
    EXPECT_EQ(output(), last);
    EXPECT_EQ(FilesIn(path("Output"), true).size(), last.size() + 2);  // the lock and the record of names
    EXPECT_EQ(QDir(path("Output")).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    EXPECT_EQ(QDir(sprites()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList({"a.png", "b.png", "c.png", "d.png", "n.d", "vintrix.toml"}));
}

TEST_F(Watch, EndsWhenTheImagesFolderGoes)
{
    start({});
    ASSERT_EQ(lines(1).size(), 1);
    ASSERT_TRUE(QDir(sprites()).removeRecursively());
    ASSERT_TRUE(p_.waitForFinished(60000));
    EXPECT_EQ(p_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p_.exitCode(), BadInput);
    EXPECT_EQ(
        lines(1, QProcess::StandardError).value(0), "error: the images folder \"sprites\" is gone; the watch ends");
}

}  // namespace vintrix::test
