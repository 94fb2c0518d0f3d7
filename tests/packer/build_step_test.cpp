// Vintrix as a step of a build: a limit on the sheets, a depfile, identical
// output left untouched, and the README's Ninja and Make rules run for real.
#include "VintrixFolder.h"

#include <sys/stat.h>

namespace {

using namespace vintrix::test;

// Three sprites of 30x30 need three sheets of 32x32.
class BuildStep : public VintrixFolder {
protected:
    void SetUp() override
    {
        VintrixFolder::SetUp();
        const std::pair<const char*, QColor> sprites[] = {
            {"a.png", Qt::red}, {"b.png", Qt::green}, {"c.png", Qt::blue}};
        for (const auto& [name, colour] : sprites)
            save(FlatSprite(30, 30, colour), name);
    }
};

// ---- --max-sheets -------------------------------------------------------

struct MaxSheetsCase {
    const char* label;
    QStringList options;
    const char* settings;  // the lines of sprites/vintrix.toml; "" for none
    int exitCode;
    const char* err;  // "DIR" stands for the images folder
};

class MaxSheets : public BuildStep, public ::testing::WithParamInterface<MaxSheetsCase> {};

TEST_P(MaxSheets, RefuseARunThatNeedsMoreBeforeWritingAnything)
{
    const MaxSheetsCase& c = GetParam();
    if (*c.settings)
        writeBytes("sprites/vintrix.toml", c.settings);
    const RunResult r = run(QStringList{"32", "32", "n", "32", "1", "0", sprites()} + c.options);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.err, QString(c.err).replace("DIR", sprites()));
    EXPECT_EQ(outputExists(), c.exitCode == Ok);
}

INSTANTIATE_TEST_SUITE_P(Table, MaxSheets,
    ::testing::Values(MaxSheetsCase{"asMany", {"--max-sheets", "3"}, "", Ok, ""},
        MaxSheetsCase{"fewer", {"--max-sheets=2"}, "", BadInput,
            "error: the images need 3 sheets of 32x32, more than the 2 that --max-sheets allows\n"},
        MaxSheetsCase{"fromSettings", {}, "max-sheets = 1\n", BadInput,
            "error: the images need 3 sheets of 32x32, more than the 1 that --max-sheets allows\n"
            "settings from DIRvintrix.toml: max-sheets = 1\n"},
        MaxSheetsCase{"zero", {"--max-sheets", "0"}, "", BadArguments,
            "error: --max-sheets must be a whole number from 1 to 1000000, not \"0\"\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- --depfile ----------------------------------------------------------

// Run in the temporary folder on "sprites" with extra sprites and settings;
// the arguments are separated by "|".
struct DepfileCase {
    const char* label;
    const char* args;
    std::vector<const char*> extraSprites;  // paths in sprites/, folders created as needed
    const char* settings;                   // sprites/vintrix.toml; "" for none
    const char* depfile;
    const char* text;
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
    const RunResult r = run(QString(c.args).split('|'));
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    QFile f(path(c.depfile));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), c.text);
}

INSTANTIATE_TEST_SUITE_P(Table, Depfiles,
    ::testing::Values(DepfileCase{"oneSheet", "64|64|n|32|1|0|sprites|--depfile|n.d", {}, "", "n.d",
                          "Output/n.json: \\\n  sprites \\\n  sprites/a.png \\\n  sprites/b.png \\\n  sprites/c.png\n"},
        DepfileCase{"everyDataFileWayInFirst", "32|32|n|32|1|0|sprites/|--depfile=n.d|--data|json-array", {}, "", "n.d",
            "Output/n.json Output/n-2.json Output/n-3.json: \\\n  sprites \\\n  sprites/a.png \\\n  sprites/b.png "
            "\\\n  sprites/c.png\n"},
        DepfileCase{"escaped", "64|64|n|32|1|0|sprites//|-o|out dir|--depfile|d $#.d|--strip-extensions",
            {"x y#$:\\.png"}, "", "d $#.d",
            "out\\ dir/n.json: \\\n  sprites \\\n  sprites/a.png \\\n  sprites/b.png \\\n  sprites/c.png \\\n  "
            "sprites/x\\ y\\#$$\\:\\.png\n"},
        DepfileCase{"subfoldersAndSettings", "64|64|n|32|1|0|sprites|--recursive", {"sub/d.png", "sub/deeper/e.png"},
            "depfile = \"../deps.d\"\n", "deps.d",
            "Output/n.json: \\\n  sprites \\\n  sprites/empty \\\n  sprites/sub \\\n  sprites/sub/deeper \\\n  "
            "sprites/a.png \\\n  sprites/b.png \\\n  sprites/c.png \\\n  sprites/sub/d.png \\\n  "
            "sprites/sub/deeper/e.png \\\n  sprites/vintrix.toml\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// A depfile that cannot be written fails the run before it packs, and
// nothing is written.
struct DepfileFaultCase {
    const char* label;
    const char* depfile;
    int exitCode;
    const char* err;
};

class DepfileFaults : public BuildStep, public ::testing::WithParamInterface<DepfileFaultCase> {};

TEST_P(DepfileFaults, FailTheRunBeforeItWrites)
{
    const DepfileFaultCase& c = GetParam();
    const RunResult r = run({"64", "64", "n", "32", "1", "0", "sprites", "--depfile", c.depfile});
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(outputExists());
    EXPECT_EQ(QDir(work_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"sprites"});
}

INSTANTIATE_TEST_SUITE_P(Table, DepfileFaults,
    ::testing::Values(DepfileFaultCase{"missingFolder", "no/such/n.d", OutputFailed,
                          "error: cannot write the depfile \"no/such/n.d\": the folder \"no/such\" does not exist\n"},
        DepfileFaultCase{"inAFile", "sprites/a.png/n.d", OutputFailed,
            "error: cannot write the depfile \"sprites/a.png/n.d\": \"sprites/a.png\" is not a folder\n"},
        DepfileFaultCase{
            "aFolder", "sprites", OutputFailed, "error: cannot write the depfile \"sprites\": it is a folder\n"},
        DepfileFaultCase{"noName", "deps/", BadArguments, "error: --depfile needs a file name, not \"deps/\"\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// The depfile goes with the output it describes: a run that fails leaves
// both as they were.
TEST_F(BuildStep, FailedRunKeepsTheEarlierDepfileWithTheEarlierOutput)
{
    const QStringList args{"64", "64", "n", "32", "1", "0", "sprites", "--depfile", "n.d"};
    ASSERT_EQ(run(args).exitCode, Ok);
    const Files before = FilesIn(work_.path()), output = this->output();
    writeBytes("sprites/broken.png", "\x89PNG\r\n\x1a\nnot a PNG");
    EXPECT_EQ(run(args).exitCode, BadInput);
    EXPECT_EQ(FilesIn(work_.path()), before);
    EXPECT_EQ(this->output(), output);
}

// ---- identical output ---------------------------------------------------

struct FileId {
    ino_t inode = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileId&) const = default;
};

FileId idOf(const QString& file)
{
    struct stat st {};
    if (::stat(file.toLocal8Bit().constData(), &st) != 0)
        return {};
    return {st.st_ino, std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

// Each file of the output is left as it was when the run would write it
// byte for byte as it is, and replaced otherwise.
TEST_F(BuildStep, IdenticalFilesAreLeftUntouched)
{
    const QStringList args{"64", "64", "n", "32", "1", "0", "sprites", "--depfile", "n.d"};
    ASSERT_EQ(run(args).exitCode, Ok);
    const FileId sheet = idOf(path("Output/n.png")), data = idOf(path("Output/n.json")), deps = idOf(path("n.d"));

    const RunResult again = run(args);
    EXPECT_EQ(again.out,
        "packed 3 images into 1 sheet of 64x64 (65.9% full), unchanged: Output/n.png with atlas data Output/n.json\n");
    EXPECT_EQ(idOf(path("Output/n.png")), sheet);
    EXPECT_EQ(idOf(path("Output/n.json")), data);
    EXPECT_EQ(idOf(path("n.d")), deps);

    // Another colour, the same sizes: a new sheet, the same data.
    save(FlatSprite(30, 30, Qt::yellow), "a.png");
    const RunResult changed = run(args);
    EXPECT_FALSE(changed.out.contains("unchanged")) << changed.out.toStdString();
    EXPECT_NE(idOf(path("Output/n.png")), sheet);
    EXPECT_EQ(idOf(path("Output/n.json")), data);
}

}  // namespace
