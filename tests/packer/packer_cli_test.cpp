// Runs Vintrix in temporary folders, the real program or its parse and run
// in this process, and reads what it wrote with Qt's own image readers and
// JSON parser.
#include "VintrixFolder.h"

#include <fstream>
#include <sstream>

#include <sys/stat.h>

#include "error.h"
#include "options.h"
#include "run.h"

namespace vintrix::test {

class VintrixTest : public VintrixFolder {
protected:
    // The command line parsed and run in this process, as main() does but
    // for --help and --version, with an image budget of 1 MiB: quicker than
    // a process a case for the tables. The runs of the real program below
    // cover main() itself.
    RunResult runHere(const QStringList& args)
    {
        std::vector<std::string> list;
        for (const QString& a : args)
            list.push_back(a.toStdString());
        qputenv("VINTRIX_IMAGE_MEMORY_MIB", "1");
        qunsetenv("VINTRIX_PROGRESS");
        const QString before = QDir::currentPath();
        EXPECT_TRUE(QDir::setCurrent(work_.path()));
        std::ostringstream out, err;
        int code;
        try {
            code = toInt(vintrix::run(std::get<vintrix::Options>(vintrix::parseCommandLine(list)), out, err));
        } catch (const vintrix::Error& e) {
            err << "error: " << e.what() << '\n';
            code = toInt(e.code());
        }
        QDir::setCurrent(before);
        qunsetenv("VINTRIX_IMAGE_MEMORY_MIB");
        return {code, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
    }
};

// ---- arguments ------------------------------------------------------------

// A PNG header claiming 60000x60000 RGBA pixels, followed by no pixel data.
const QByteArray kPngBomb(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\xea\x60\0\0\xea\x60\x08\x06\0\0\0\x80\xd2\x75\x42\0\0\0\0IDAT"
    "\x35\xaf\x06\x1e\0\0\0\0IEND\xae\x42\x60\x82",
    57);

// Arguments or images that Vintrix refuses with an error line for each
// fault, before it writes anything, or packs with a warning. The arguments
// are separated by "|"; "DIR" in them and in the message stands for the
// images folder.
struct MessageCase {
    const char* label;
    const char* args;
    const char* message;  // the line on stderr, after "error: " when the run fails; "" for none
    int exitCode = BadArguments;
    std::vector<std::pair<std::string, QByteArray>> sprites = {{"s.png", Encoded(FlatSprite(6, 6, Qt::red))}};
};

class Messages : public VintrixTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(Messages, SayWhatIsWrongOrRisky)
{
    const MessageCase& c = GetParam();
    for (const auto& [file, bytes] : c.sprites)  // bytes: a name need not be UTF-8
        std::ofstream(sprites().toStdString() + file, std::ios::binary) << bytes.toStdString();
    const RunResult r = runHere(*c.args ? QString(c.args).replace("DIR", sprites()).split('|') : QStringList());
    EXPECT_EQ(r.exitCode, c.exitCode);
    const QString line = QString(c.exitCode == Ok ? "" : "error: ") + QString(c.message).replace("DIR", sprites());
    EXPECT_EQ(r.err, line.isEmpty() ? "" : line + "\n");
    EXPECT_EQ(r.out.isEmpty(), c.exitCode != Ok);
    EXPECT_EQ(outputExists(), c.exitCode == Ok);
    for (const auto& [file, bytes] : c.sprites)  // Qt cannot remove a name that is not UTF-8
        std::remove((sprites().toStdString() + file).c_str());
}

const char kPackDir[] = "64|64|n|32|1|0|DIR";
const auto kRed = Encoded(FlatSprite(4, 4, Qt::red)), kBlue = Encoded(FlatSprite(2, 2, Qt::blue));
// Three sprites for three sheets of 8x8.
const std::vector<std::pair<std::string, QByteArray>> kThree{{"a.png", Encoded(FlatSprite(6, 6, Qt::red))},
    {"b.png", Encoded(FlatSprite(6, 6, Qt::green))}, {"c.png", Encoded(FlatSprite(6, 6, Qt::blue))}};

const MessageCase kMessages[] = {
    {"six", "64|64|n|32|1|0", "no images folder given: choose one in the folder list"},
    {"none", "", "expected 7 arguments, WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER, got 0 (see Vintrix --help)"},
    {"widthZero", "0|64|n|32|1|0|DIR", "width must be a whole number from 1 to 65536, not \"0\""},
    {"widthHuge", "65537|64|n|32|1|0|DIR", "width must be a whole number from 1 to 65536, not \"65537\""},
    {"widthOverflow", "99999999999999999999|64|n|32|1|0|DIR",
        "width must be a whole number from 1 to 65536, not \"99999999999999999999\""},
    {"widthText", "12px|64|n|32|1|0|DIR", "width must be a whole number from 1 to 65536, not \"12px\""},
    {"heightEmpty", "64||n|32|1|0|DIR", "height must be a whole number from 1 to 65536, not \"\""},
    {"folderWithControls", "8|8|n|32|1|0|no\nsuch\tfolder\x1b",
        "images folder \"no\\nsuch\\tfolder\\x1b\" does not exist"},
    {"nameEmpty", "64|64||32|1|0|DIR", "name must not be empty"},
    {"nameWithControls", "64|64|a\nerror: b\x1b[31m|32|1|0|DIR",
        "name must not contain control characters, not \"a\\nerror: b\\x1b[31m\""},
    {"nameSlash", "64|64|a/b|32|1|0|DIR", "name must be a plain file name without \"/\", not \"a/b\""},
    {"nameDot", "64|64|.|32|1|0|DIR", "name must be a plain file name, not \".\""},
    {"bpp16", "64|64|n|16|1|0|DIR", "bits per pixel must be 8 or 32, not \"16\""},
    {"format2", "64|64|n|32|2|0|DIR", "format must be 0 (BMP) or 1 (PNG), not \"2\""},
    {"marginNegative", "64|64|n|32|1|-5|DIR",
        "margin must be a whole number from 0 to 31 for a 64x64 sheet, not \"-5\""},
    {"marginNoRoom", "64|10|n|32|1|5|DIR", "margin must be a whole number from 0 to 4 for a 64x10 sheet, not \"5\""},
    {"folderIsFile", "64|64|n|32|1|0|DIRs.png", "images folder \"DIRs.png\" is not a folder"},
    {"bmpTooBig", "65536|65536|n|32|0|0|DIR",
        "a 65536x65536 BMP sheet at 32 bits per pixel would exceed the 4 GiB a BMP file can hold: use PNG (format 1) "
        "or a smaller sheet"},
    {"unknownOption", "--frobnicate|64|64|n|32|1|0|DIR", "unknown option \"--frobnicate\" (see Vintrix --help)"},
    {"optionWithoutValue", "64|64|n|32|1|0|DIR|-o", "--output needs a value (see Vintrix --help)"},
    {"unknownDataFormat", "64|64|n|32|1|0|DIR|--data=xml",
        "data format must be json-hash, json-array, phaser3, libgdx, starling, css or godot, not \"xml\""},
    {"thresholdWithoutTrim", "--trim-threshold|3|64|64|n|32|1|0|DIR", "--trim-threshold needs --trim"},
    {"thresholdTooHigh", "--trim|--trim-threshold|255|64|64|n|32|1|0|DIR",
        "trim threshold must be a whole number from 0 to 254, not \"255\""},
    {"pngLevelTooHigh", "64|64|n|32|1|0|DIR|--png-level|13",
        "PNG level must be a whole number from 1 to 12, not \"13\""},
    {"outputEmpty", "64|64|n|32|1|0|DIR|-o|", "output folder must not be empty"},
    {"nameIsTakenAsItIs", "64|64|--data|json-array|1|0|DIR", "bits per pixel must be 8 or 32, not \"json-array\""},
    {"optionBeforeName", "64|64|--trim|n|32|1|0|DIR",
        "expected 7 arguments, WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER, got 8: \"--trim\" looks misplaced, as the "
        "third argument is NAME whatever it looks like; move the option (see Vintrix --help)"},
    {"optionWithValueBeforeFolder", "64|64|n|32|1|0|--data|libgdx|DIR",
        "expected 7 arguments, WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER, got 9: \"--data\" looks misplaced, as the "
        "seventh is FOLDER whatever it looks like; move the option (see Vintrix --help)"},
    {"optionsDoNotCountAsArguments", "--rotate|64|64|n|32|1|0",
        "no images folder given: choose one in the folder list"},
    {"extrusionWithoutRoom", "64|64|n|32|1|3|DIR|--extrude|2",
        "--extrude 2 needs a margin of at least 4, room for the extruded edges of two neighbours, not 3"},
    {"potWithOtherSizes", "100|128|n|32|1|0|DIR|--pot",
        "--pot needs a sheet width and height that are powers of two, not 100x128"},
    {"cssWithTrim", "64|64|n|32|1|0|DIR|--data|css|--trim",
        "--data css cannot go with --trim: a CSS background shows a frame as its region of the sheet, without the "
        "trimmed borders"},
    {"cssWithRotate", "64|64|n|32|1|0|DIR|--rotate|--data=css",
        "--data css cannot go with --rotate: a CSS background shows a frame as its region of the sheet, and cannot "
        "turn it back"},
    {"cssWithPremultiply", "64|64|n|32|1|0|DIR|--data=css|--premultiply",
        "--data css cannot go with --premultiply: browsers take a sheet's colours as not premultiplied, and would "
        "darken its edges"},
    {"cssOnAnEightBitBmp", "64|64|n|8|0|0|DIR|--data|css",
        "--data css cannot go with an 8-bit BMP sheet: browsers would show its colour key, magenta, where the sprites "
        "are transparent; choose PNG (format 1) or 32 bits per pixel"},
    {"cssClassOfTwoFiles", "64|64|n|32|1|0|DIR|--data|css",
        "\"a b.png\" and \"a-b.png\" would both be the CSS class \"n-a-b\": rename one of them", BadInput,
        {{"a b.png", kRed}, {"a-b.png", kBlue}}},
    {"godotWithRotate", "64|64|n|32|1|0|DIR|--data|godot|--rotate",
        "--data godot cannot go with --rotate: Godot's AtlasTexture cannot turn a region back"},
    {"starlingControlCharacter", "64|64|n|32|1|0|DIR|--data|starling",
        "the Starling XML cannot name \"a\\x01.png\": XML cannot hold a control character, U+FFFE or U+FFFF, and "
        "Starling drops blanks at the ends of a name, so rename the file",
        BadInput, {{"a\x01.png", kRed}}},
    // "\xff.png" would reach the atlas data as U+FFFD, the same key as a
    // real "\uFFFD.png": one of the two frames would be lost to every reader.
    {"aNameThatIsNotUtf8", kPackDir,
        "\"\\xff.png\" has a file name that is not valid UTF-8, so the atlas data cannot name it: rename the file",
        BadInput, {{"good.png", kRed}, {"\xff.png", kRed}}},
    {"anImageTooLargeForTheSheet", "64|64|n|32|1|3|DIR",
        "\"wide.png\": image of 60x20 pixels does not fit on a 64x64 sheet with a margin of 3", BadInput,
        {{"small.png", kRed}, {"wide.png", Encoded(FlatSprite(60, 20, Qt::blue))}}},
    {"fitsNeitherWay", "5|9|n|32|1|0|DIR|--trim|--rotate",
        "\"s.png\": image of 6x6 pixels once trimmed does not fit on a 5x9 sheet, either way round", BadInput},
    {"hugeDimensionsInAHeader", "65536|65536|n|32|1|0|DIR",
        "\"bomb.png\": image claims 60000x60000 pixels, more than Vintrix decodes (268435456 pixels)", BadInput,
        {{"bomb.png", kPngBomb}}},
    {"extrusionPastTheMemoryBudget", "1100|1100|n|32|1|510|DIR|--extrude|255",
        "extruded by 255 pixels, the images would take 2 MiB, more than the 1 MiB they may take "
        "(VINTRIX_IMAGE_MEMORY_MIB sets another budget)",
        BadInput},
    {"fileNamesQuotedOnOneLineEach", kPackDir,
        "\"a\\nerror: planted.png\": cannot decode image: the file ends early\nerror: \"wide\\x1b[31m.png\": image of "
        "90x4 pixels does not fit on a 64x64 sheet",
        BadInput,
        {{"a\nerror: planted.png", "\x89PNG\r\n\x1a\nbroken"},
            {"wide\x1b[31m.png", Encoded(FlatSprite(90, 4, Qt::red))}}},
    {"aFolderWithoutImages", kPackDir,
        "no images in \"DIR\" (looked for PNG, BMP, JPEG, GIF, WebP, TGA and TIFF files)", BadInput,
        {{"readme.txt", "not an image"}}},
    {"twoFilesOneFrame", "64|64|n|32|1|0|DIR|--strip-extensions",
        "\"a.bmp\" and \"a.png\" would both be the frame \"a\": rename one of them", BadInput,
        {{"a.png", kBlue}, {"a.bmp", kBlue}}},
    {"colonInLibgdx", "64|64|n|32|1|0|DIR|--data|libgdx",
        "the libGDX atlas cannot name \"a:b.png\": its lines cannot hold a \":\", a control character or blanks at the "
        "ends of a name, so rename the file",
        BadInput, {{"a:b.png", kBlue}}},
    {"variantScaleZero", "64|64|n|32|1|0|DIR|--variant|0:@0x",
        "--variant scale must be above 0 and at most 1 (the images' own size), not \"0\""},
    {"variantScaleAboveOne", "64|64|n|32|1|0|DIR|--variant|2:@2x",
        "--variant scale must be above 0 and at most 1 (the images' own size), not \"2\""},
    {"variantScaleNotANumber", "64|64|n|32|1|0|DIR|--variant|.5",
        "--variant scale must be a number above 0 and at most 1 with at most three decimals, such as 0.5, not \".5\""},
    {"variantsWithOneSuffix", "64|64|n|32|1|0|DIR|--variant|1|--variant|0.50",
        "--variant 1 and 0.5 both have the suffix \"\": their files would have the same names"},
    {"variantLargerThanTheFirst", "64|64|n|32|1|0|DIR|--variant|0.5:@1x|--variant|1:@2x",
        "--variant 1 is larger than the first, 0.5: list the largest variant first, as its layout is the one the "
        "others scale"},
    {"variantSuffixLikeASheetsNumber", "64|64|n|32|1|0|DIR|--variant|1|--variant|0.5:-2",
        "--variant suffix must be text without \"/\" or control characters that does not end in \"-\" and a number "
        "(the sheets' own numbering), not \"-2\""},
    {"variantsTooFine", "64|64|n|32|1|0|DIR|--variant|1|--variant|0.125:a|--variant|0.02:b",
        "--variant 0.02 and the variants before it need sprites and margins padded to a multiple of 200 pixels, more "
        "than 40"},
    {"paddedForVariantsTooLarge", "64|7|n|32|1|0|DIR|--variant|1|--variant|0.25:q",
        "\"s.png\": image of 8x8 pixels once padded to a multiple of 4 for --variant does not fit on a 64x7 sheet",
        BadInput},
    {"ninePatchGuideNeitherBlackNorClear", kPackDir,
        "\"b.9.png\": not a nine-patch: pixel 0,0, a corner of its guides, is not transparent", BadInput,
        {{"b.9.png", Encoded(FlatSprite(5, 5, Qt::gray))}}},
    {"ninePatchFitsWithoutItsGuides", "8|8|n|32|1|0|DIR", "", Ok,
        {{"b.9.png", Encoded(NinePatch(FlatSprite(8, 8, Qt::red), QMargins(2, 2, 2, 2)))}}},
    {"over8192", "8193|8|n|32|1|0|DIR",
        "warning: Output/n.png is 8193x8 pixels, more than 8192 on a side, which many GPUs cannot load", Ok},
    {"over16384", "65536|8|n|32|1|0|DIR",
        "warning: Output/n.png is 65536x8 pixels, more than 16384 on a side, which most GPUs cannot load", Ok},
    {"shrunkBelow8192", "16400|8|n|32|1|0|DIR|--shrink", "", Ok},
    {"animationOverSheets", "48|48|n|32|1|0|DIR|--animations",
        "warning: animation \"walk\" is in no data file: its frames lie on more than one sheet, and each file lists "
        "the animations of its own sheet",
        Ok,
        {{"walk_1.png", Encoded(FlatSprite(40, 40, Qt::red))}, {"walk_2.png", Encoded(FlatSprite(40, 40, Qt::blue))}}},
    // Vintrix in a build: the limit on the sheets, and the depfile's name.
    {"maxSheetsAsMany", "8|8|n|32|1|0|DIR|--max-sheets|3", "", Ok, kThree},
    {"maxSheetsFewer", "8|8|n|32|1|0|DIR|--max-sheets=2",
        "the images need 3 sheets of 8x8, more than the 2 that --max-sheets allows", BadInput, kThree},
    {"maxSheetsFromSettings", "8|8|n|32|1|0|DIR",
        "the images need 3 sheets of 8x8, more than the 1 that --max-sheets allows\nsettings from DIRvintrix.toml: "
        "max-sheets = 1",
        BadInput, {kThree[0], kThree[1], kThree[2], {"vintrix.toml", "max-sheets = 1\n"}}},
    {"maxSheetsZero", "8|8|n|32|1|0|DIR|--max-sheets|0",
        "--max-sheets must be a whole number from 1 to 1000000, not \"0\""},
    {"watchFromSettings", kPackDir,
        "\"DIRvintrix.toml\", line 1: \"watch\" cannot be set in a settings file, only on the command line",
        BadArguments, {{"s.png", kRed}, {"vintrix.toml", "watch = true\n"}}},
    {"depfileInAMissingFolder", "64|64|n|32|1|0|DIR|--depfile|no/such/n.d",
        "cannot write the depfile \"no/such/n.d\": the folder \"no/such\" does not exist", OutputFailed},
    {"depfileInAFile", "64|64|n|32|1|0|DIR|--depfile|sprites/s.png/n.d",
        "cannot write the depfile \"sprites/s.png/n.d\": \"sprites/s.png\" is not a folder", OutputFailed},
    {"depfileAFolder", "64|64|n|32|1|0|DIR|--depfile|sprites", "cannot write the depfile \"sprites\": it is a folder",
        OutputFailed},
    {"depfileInAFolderInOutput", "64|64|n|32|1|0|DIR|--depfile|Output/deps/n.d",
        "cannot write the depfile \"Output/deps/n.d\": the folder \"Output/deps\" does not exist", OutputFailed},
    {"depfileAnOutputFile", "64|64|n|32|1|0|DIR|--depfile|Output/../Output/n-2.png",
        "the depfile \"Output/../Output/n-2.png\" would replace a file of the output in Output: choose another name "
        "for it"},
    {"depfileTheRecordOfNames", "64|64|n|32|1|0|DIR|--depfile|Output/.vintrix-sets",
        "the depfile \"Output/.vintrix-sets\" would replace a file of the output in Output: choose another name for "
        "it"},
    {"depfileAnImage", "64|64|n|32|1|0|sprites|--depfile|sprites/s.png",
        "the depfile \"sprites/s.png\" would replace an image in \"sprites\": choose another name for it"},
    {"depfileWithoutAName", "64|64|n|32|1|0|DIR|--depfile|deps/", "--depfile needs a file name, not \"deps/\""},
};

INSTANTIATE_TEST_SUITE_P(Table, Messages, ::testing::ValuesIn(kMessages), ByLabel);

// ---- the settings file ----------------------------------------------------

// A settings file, FOLDER/vintrix.toml unless `file` names another, and the
// options after the seven arguments. The run writes what the options `same`
// give without the file, and its summary ends with `message`, the settings
// taken from the file; or, with `same` null, it is refused with `message`
// and the earlier output stays. "DIR" stands for the images folder; a null
// `text` makes the file a named pipe.
struct SettingsCase {
    const char* label;
    const char* text;
    const char* args;
    const char* same;
    const char* message;
    const char* file = "sprites/vintrix.toml";
    const char* output = "Output";
};

class SettingsFiles : public VintrixTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsFiles, SetWhatTheCommandLineLeavesOut)
{
    const SettingsCase& c = GetParam();
    save(FlatSprite(4, 4, Qt::red).copy(-2, -2, 8, 8), "a.png");  // transparent around, so trimming changes it
    ASSERT_TRUE(work_.mkpath("sprites/sub"));
    save(FlatSprite(3, 5, Qt::blue), "sub/b.png");
    const auto args = [&](const char* options) {
        return QString("64|64|n|32|1|2|DIR|%1").arg(options).replace("DIR", sprites()).split('|', Qt::SkipEmptyParts);
    };
    const QString message = QString(c.message).replace("DIR", sprites());
    if (!c.same)  // earlier output, which a refused run leaves as it is
        ASSERT_TRUE(Ran(runHere(args(""))));
    const Files earlier = output();
    ASSERT_TRUE(work_.mkpath(QFileInfo(c.file).path()));
    if (c.text)
        writeBytes(c.file, c.text);
    else
        ASSERT_EQ(mkfifo(path(c.file).toLocal8Bit().constData(), 0600), 0);

    const RunResult r = runHere(args(c.args));
    if (!c.same) {
        EXPECT_EQ(r.exitCode, BadArguments);
        EXPECT_EQ(r.err, "error: " + message + "\n");
        EXPECT_EQ(output(), earlier);
        return;
    }
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    const Files written = FilesIn(path(c.output));
    ASSERT_TRUE(QDir(path(c.output)).removeRecursively());
    ASSERT_TRUE(QFile::remove(path(c.file)));
    const RunResult same = runHere(args(c.same));
    ASSERT_EQ(same.exitCode, Ok) << same.err.toStdString();
    EXPECT_EQ(written, FilesIn(path(c.output)));
    EXPECT_EQ(r.out, same.out + (message.isEmpty() ? "" : message + "\n"));
    EXPECT_EQ(r.err, same.err);  // the file is no image, not even with --recursive
}

const SettingsCase kSettingsFiles[] = {
    {"trimAndDataFormat", "# for Phaser\ntrim = true\r\ndata = \"json-array\"\n", "", "--trim|--data|json-array",
        "settings from DIRvintrix.toml: trim, data = json-array"},
    {"flagsAndNumbers", "recursive = true\nstrip-extensions = true\nno-bleed = false\n\nextrude = 1\npng-level = 9\n",
        "", "--recursive|--strip-extensions|--bleed|--extrude|1|--png-level|9",
        "settings from DIRvintrix.toml: recursive, strip-extensions, no-bleed = false, extrude = 1, png-level = 9"},
    {"commandLineWins", "trim = false\ndata = 'json-array'\nshrink = true  # to its content\n", "--trim|--data|phaser3",
        "--trim|--data|phaser3|--shrink", "settings from DIRvintrix.toml: shrink"},
    {"noConfig", "trim = true\n", "--no-config", "", ""},
    // The output folder is relative to the file's folder.
    {"anotherFile", "output = \"out\"\ntrim = true\n", "--config|conf/my.toml", "-o|conf/out|--trim",
        "settings from conf/my.toml: output = out, trim", "conf/my.toml", "conf/out"},
    {"unknownKey", "trim = true\nfrobnicate = 3\n", "", nullptr,
        "\"DIRvintrix.toml\", line 2: unknown setting \"frobnicate\" (see Vintrix --help)"},
    {"badNumber", "# sizes\n\nextrude = many\n", "", nullptr,
        "\"DIRvintrix.toml\", line 3: extrusion must be a whole number from 0 to 255, not \"many\""},
    {"badFlag", "trim = maybe\n", "", nullptr,
        "\"DIRvintrix.toml\", line 1: trim must be true or false, not \"maybe\""},
    {"malformedLine", "trim = true\ndata json-array\n", "", nullptr,
        "\"DIRvintrix.toml\", line 2: expected a setting, NAME = VALUE, not \"data json-array\""},
    {"setTwice", "bleed = true\ntrim = true\nno-bleed = true\n", "", nullptr,
        "\"DIRvintrix.toml\", line 3: \"no-bleed\" sets --bleed again, first set on line 1"},
    {"commandLineOnly", "config = \"other.toml\"\n", "", nullptr,
        "\"DIRvintrix.toml\", line 1: \"config\" cannot be set in a settings file, only on the command line"},
    {"variantsOnlyOnTheCommandLine", "trim = true\nvariant = \"0.5\"\n", "", nullptr,
        "\"DIRvintrix.toml\", line 2: \"variant\" cannot be set in a settings file, only on the command line"},
    // Checked once the run starts, a fault of options taken together is
    // followed by where they came from.
    {"optionsThatDoNotGoTogether", "extrude = 2\n", "", nullptr,
        "--extrude 2 needs a margin of at least 4, room for the extruded edges of two neighbours, not 2\nsettings "
        "from DIRvintrix.toml: extrude = 2"},
    // Tables of sprites follow the settings: their values checked, and a
    // nine-slice against the images it matches.
    {"pivotOutOfRange", "trim = true\n\n[sprites.\"a.png\"]\npivot = [0.5, 1.5]\n", "", nullptr,
        "\"DIRvintrix.toml\", line 4: pivot must be two fractions of the image from 0 to 1, [x, y], not [ 0.5, 1.5 "
        "]"},
    {"pivotNotANumberOnOneLine", "[sprites.\"a.png\"]\npivot = [nan, 0]\n", "", nullptr,
        "\"DIRvintrix.toml\", line 2: pivot must be two fractions of the image from 0 to 1, [x, y], not [ nan, 0 "
        "]"},
    {"nineSliceLargerThanTheImage", "[sprites.\"*.png\"]  # buttons\nnine-slice = [4, 0, 5, 0]\n", "--recursive",
        nullptr,
        "\"DIRvintrix.toml\", line 2: nine-slice [4, 0, 5, 0] is larger than \"a.png\", 8x8 pixels: left and right "
        "together are at most its width, top and bottom its height"},
    {"settingAfterATable", "[sprites.\"a.png\"]\npivot = [0, 1]\ntrim = true\n", "", nullptr,
        "\"DIRvintrix.toml\", line 3: unknown sprite setting \"trim\": a sprite takes pivot and nine-slice (the "
        "settings of the run come before the first table)"},
    {"anotherTable", "[output]\nfolder = \"x\"\n", "", nullptr,
        "\"DIRvintrix.toml\", line 1: unknown table \"output\": after the settings come only [sprites.\"PATTERN\"] "
        "tables"},
    {"aNamedPipe", nullptr, "", nullptr, "settings file \"DIRvintrix.toml\" is not a regular file"},
    {"missingFile", "trim = true\n", "--config|none.toml", nullptr, "settings file \"none.toml\" does not exist"}};

INSTANTIATE_TEST_SUITE_P(Table, SettingsFiles, ::testing::ValuesIn(kSettingsFiles), ByLabel);

// ---- what a run leaves behind ---------------------------------------------

// Only the first data file names the other packs (the data format test
// reads them through it); a later run with fewer sheets removes the extra
// ones, in the earlier format too, and no other file.
TEST_F(VintrixTest, MultiplePacksAndFewerSheetsLater)
{
    for (int i = 0; i < 10; ++i)
        save(FlatSprite(30, 30, QColor(i * 20, 0, 0)), QString("s%1.png").arg(i));
    const RunResult multi = pack(64, 64, "n", 32, 0, 1);
    ASSERT_TRUE(Ran(multi));
    EXPECT_EQ(multi.out,
        "packed 10 images into 3 sheets of 64x64 (first 87.9% full, 73.2% overall): Output/n.bmp to Output/n-3.bmp "
        "with atlas data Output/n.json\n");
    EXPECT_FALSE(json("Output/n-3.json")["meta"].toObject().contains("related_multi_packs"));
    writeBytes("Output/other.png", "someone else's");
    writeBytes("Output/n-backup.png", "not ours either");
    writeBytes("Output/n-02.json", "nor this");

    ASSERT_TRUE(Ran(pack(128, 128, "n", 32, 1, 1)));
    EXPECT_EQ(Names(output()), (QStringList{"n-02.json", "n-backup.png", "n.json", "n.png", "other.png"}));
    EXPECT_FALSE(json("Output/n.json")["meta"].toObject().contains("related_multi_packs"));
}

// All variants of a run are one output of its NAME (the files each writes
// are the pixel test's): another NAME may not take their files, and a run
// without them removes them.
TEST_F(VintrixTest, VariantsAreFilesOfTheirName)
{
    save(FlatSprite(6, 6, Qt::red), "a.png");
    ASSERT_EQ(run({"64", "64", "n", "32", "1", "0", sprites(), "--variant", "1:@2x", "--variant", "0.5"}).exitCode, Ok);
    const RunResult other = pack(64, 64, "n@2x", 32, 1, 0);
    EXPECT_EQ(other.exitCode, OutputFailed);
    EXPECT_EQ(other.err,
        "error: cannot write the output named \"n@2x\": Output/\"n@2x.png\" belongs to the output named \"n\"; choose "
        "another name or remove that output\n");
    ASSERT_EQ(pack(64, 64, "n", 32, 1, 0).exitCode, Ok);
    EXPECT_EQ(Names(output()), (QStringList{"n.json", "n.png"}));
}

// ---- 8-bit sheets ---------------------------------------------------------

class Palette : public VintrixTest, public ::testing::WithParamInterface<int> {};

// Sources of a few flat colours on transparent ground fit any palette
// exactly, opaque magenta too, which must not become a BMP's colour key; a
// gradient comes back only close. The gradient fills the first sheet, the
// flat sprites the second: each sheet gets a palette of its own.
TEST_P(Palette, EightBitSheetsStayCloseToTheSourcesAndKeepTransparency)
{
    const int format = GetParam();
    std::map<QString, QImage> sources;
    const QColor colours[] = {Qt::red, Qt::magenta, QColor(20, 40, 200), QColor(250, 200, 0, 160)};
    for (int i = 0; i < 4; ++i) {
        QImage img(12 + i, 10, QImage::Format_RGBA8888);
        img.fill(Qt::transparent);
        for (int y = 2; y < 8; ++y)
            for (int x = 1; x < img.width() - 1; ++x)
                img.setPixelColor(x, y, colours[(x / 3 + i) % 4]);
        sources[QString("flat%1.png").arg(i)] = img;
    }
    QImage grad(40, 30, QImage::Format_RGBA8888);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            grad.setPixelColor(x, y, QColor(x * 6, y * 8, (x * y) % 256, x < 3 ? 0 : 255));
    sources["gradient.png"] = grad;
    for (const auto& [file, img] : sources)
        save(img, file);
    const auto runPack = [&] { return pack(48, 40, "p", 8, format, 1); };
    ASSERT_TRUE(Ran(runPack()));
    expectSameBytesAgain(runPack);
    EXPECT_EQ(json("Output/p.json")["meta"].toObject()["format"].toString(), "INDEXED8");

    const auto frames = ReadAtlas(path("Output"), "p").frames;
    std::map<QString, QImage> sheets;
    for (const auto& [file, frame] : frames)
        sheets[frame.sheet] = QImage(path("Output/" + frame.sheet));
    ASSERT_EQ(sheets.size(), 2u);
    for (const auto& [file, sheet] : sheets) {
        SCOPED_TRACE(file.toStdString());
        ASSERT_EQ(sheet.format(), QImage::Format_Indexed8);
        ASSERT_LE(sheet.colorCount(), 256);
        // The transparent entry, clear in PNG and magenta in BMP as documented, fills the margin band.
        EXPECT_TRUE(format ? qAlpha(sheet.color(0)) == 0 : (sheet.color(0) & 0xffffff) == 0xff00ff);
        for (int x = 0; x < sheet.width(); ++x)
            EXPECT_EQ(sheet.pixelIndex(x, 0), 0);
    }

    // BMP keeps no alpha, and its colour key is for transparent pixels only.
    const QRgb opaque = format ? 0 : 0xff000000u;
    for (const auto& [file, src] : sources) {
        SCOPED_TRACE(file.toStdString());
        const QImage& sheet = sheets[frames.at(file).sheet];
        const QRect at = frames.at(file).rect;
        ASSERT_EQ(at.size(), src.size());
        long long sum = 0;
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x) {
                const int index = sheet.pixelIndex(at.x() + x, at.y() + y);
                const QRgb got = sheet.color(index) | opaque;
                ASSERT_EQ(index == 0, qAlpha(src.pixel(x, y)) == 0) << "at " << x << "," << y;
                if (index == 0)
                    continue;
                ASSERT_TRUE(format || (got & 0xffffff) != 0xff00ff) << "magenta at " << x << "," << y;
                const int e = ChannelError(got, src.pixel(x, y) | opaque);
                ASSERT_TRUE(e <= 1 || !file.startsWith("flat")) << "at " << x << "," << y;
                sum += e;
            }
        EXPECT_LE(sum / (src.width() * src.height()), 12);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, Palette, ::testing::Values(1, 0),
    [](const auto& info) { return std::string(info.param ? "Png" : "Bmp"); });

// ---- progress -------------------------------------------------------------

// The lines a job's window reads: the stages in order, each going forward,
// 8-bit palettes before any row, and the rows of a tall sheet moving with
// every whole percent.
TEST_F(VintrixTest, ProgressLinesMoveWithEveryWholePercent)
{
    std::mt19937 rng(3);
    for (int i = 0; i < 30; ++i)
        save(RandomSprite(rng, 20, 90), QString("s%1.png").arg(i));
    env_.insert("VINTRIX_PROGRESS", "lines");
    const RunResult r = pack(64, 3000, "n", 8, 1, 0);
    ASSERT_EQ(r.exitCode, Ok) << r.err.toStdString();
    std::vector<std::string> stages;
    vintrix::ProgressLine last;
    for (const QString& line : r.err.split('\n', Qt::SkipEmptyParts)) {
        const auto now = vintrix::ParseProgressLine(line.toStdString());  // as the job's window reads it
        ASSERT_TRUE(now) << line.toStdString();
        if (stages.empty() || stages.back() != now->stage) {
            stages.push_back(now->stage);
            last.done = 0;
        }
        EXPECT_GE(now->done, last.done) << line.toStdString();
        if (now->stage == "writing")
            EXPECT_LE(now->done - last.done, now->total / 100) << line.toStdString();
        last = *now;
    }
    EXPECT_EQ(stages, (std::vector<std::string>{"reading", "packing", "palette", "writing"}));
    EXPECT_EQ(last.done, 3000u);
    EXPECT_EQ(last.total, 3000u);
}

}  // namespace vintrix::test
