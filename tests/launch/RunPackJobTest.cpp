#include "RunPackJob.h"

#include "CommandLine.h"
#include "FileNames.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <qtestsupport_core.h>

#include <fstream>
#include <filesystem>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace vintrix {
namespace {

using Args = std::vector<std::string>;

// Runs each test in a fresh temporary current directory, where a recording
// stand-in for Vintrix can be installed.
class RunPackJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    }
    void TearDown() override { qputenv("PATH", path_); }

    void InstallRecorder(const QString& folder = ".") { ASSERT_TRUE(QFile::copy(RECORD_ARGS, folder + "/Vintrix")); }

    // The job is detached: wait for its record in the current folder. The
    // recorder links a complete record into place, so once the name exists
    // it is whole.
    Args WaitForCall(int n)
    {
        const std::string record = "call-" + std::to_string(n);
        EXPECT_TRUE(QTest::qWaitFor([&] { return access(record.c_str(), F_OK) == 0; }, 10000)) << record;
        std::ifstream file(record, std::ios::binary);
        Args args;
        for (std::string arg; std::getline(file, arg, '\0');)
            args.push_back(arg);
        return args;
    }

    std::optional<LaunchFailure> Run(const std::u16string& line)
    {
        return RunPackJob(
            line,
            [this](const QString& text) {
                notices_.push_back(text);
                scriptPresentAtNotice_ = QFile::exists(kScriptName);
            });
    }
    std::optional<LaunchFailure> Run(const PackSettings& settings) { return Run(ComposeCommandLine(settings)); }

    static void Write(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QTemporaryDir dir_;
    const QByteArray path_ = qgetenv("PATH");
    std::vector<QString> notices_;
    bool scriptPresentAtNotice_ = false;
};

// Each notice here is closed at once, so a script's name may be gone before
// its shell starts: the shell reads the file it was handed, not the name.
// The composed line goes through the real shell: whatever the name and folder
// hold, only the packer runs, and it receives them exactly. An earlier
// temp.sh is replaced, and a link named temp.sh, planted by someone who can
// write the folder, is replaced as a name: nothing is run from them or
// written where they point.
TEST_F(RunPackJobTest, JobsInARowEachRunTheirOwnLineExactlyAndLeaveNoScript)
{
    InstallRecorder();
    QTemporaryDir outside;
    const QString victim = outside.filePath("bashrc"), missing = outside.filePath("created-through-link");
    Write(victim, "precious\n");
    Write(kScriptName, "touch stale-script-ran\ntouch stale-script-ran\ntouch stale-script-ran\n");
    const std::vector<std::pair<QString, QString>> hostile = {
        {"Vintrix", "/tmp/a; touch pwned-1;/"}, {"x$(touch pwned-2)", "/tmp/$(touch pwned-3)/`touch pwned-4`/"},
        {"it's \"quoted\"", "/tmp/it's/"}, {"my sheet", "/tmp/new\nline & more | > pwned-5/"},
        {"Blätter *?[a]", "/tmp/Über ~ \\ !# $HOME ${IFS}/"}, {"", "/img/"},  // a blank name, trimmed to nothing
    };
    constexpr int kJobs = 20;
    std::multiset<Args> expected, calls;
    for (int i = 1; i <= kJobs; ++i) {
        const auto& [name, folder] = hostile[i % hostile.size()];
        PackSettings settings;
        TakeName(settings, (name.isEmpty() ? QStringLiteral("   ") : name).toStdU16String());
        settings.imagesFolder = folder.toStdU16String();
        settings.height = i;
        if (i > 1 && i < 4)
            ASSERT_TRUE(QFile::link(i == 2 ? victim : missing, kScriptName));
        ASSERT_EQ(Run(settings), std::nullopt);
        EXPECT_FALSE(QFile::exists(kScriptName));
        expected.insert({"256", std::to_string(i), name.toStdString(), "8", "0", "0", folder.toStdString()});
    }
    // The detached jobs run side by side, so any may record first; a shell
    // that read another job's script would give two equal records.
    for (int i = 1; i <= kJobs; ++i)
        calls.insert(WaitForCall(i));
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(notices_, std::vector<QString>(kJobs, kNoticeText));
    EXPECT_TRUE(scriptPresentAtNotice_);
    const QStringList left = QDir(dir_.path()).entryList(QDir::Files);
    EXPECT_TRUE(left.filter("pwned").isEmpty() && !left.contains("stale-script-ran")) << left.join(' ').toStdString();
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "precious\n");
    EXPECT_FALSE(QFile::exists(missing));
}

// A temp.sh of another user could be changed by its owner between the write
// and the shell's read: it is refused, and nothing runs.
TEST_F(RunPackJobTest, AnotherUsersScriptIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create a file that another user owns";
    InstallRecorder();
    Write(kScriptName, "touch pwned\n");
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(chown(kScriptName, kNobody, kNobody), 0);
    const auto failure = Run(u"Vintrix 1 2 n 8 0 0 /x/");
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->reason.contains("belongs to another user")) << failure->reason.toStdString();
    EXPECT_TRUE(notices_.empty());
    QFile planted(kScriptName);
    ASSERT_TRUE(planted.open(QIODevice::ReadOnly));
    EXPECT_EQ(planted.readAll(), "touch pwned\n");
    EXPECT_FALSE(QFile::exists("call-1"));
    EXPECT_FALSE(QFile::exists("pwned"));
}

// The shell looks for Vintrix in the current folder first, whatever the
// folder's name, then beside this program (the main window's test, built
// beside Vintrix, finds it there), then on the inherited PATH. A folder name
// that is not UTF-8 reaches the packer byte for byte.
TEST_F(RunPackJobTest, VintrixIsFoundInTheCurrentFolderThenBesideTheProgramThenOnThePath)
{
    QTemporaryDir onPath, decoy;
    InstallRecorder(onPath.path());
    qputenv("PATH", QFile::encodeName(onPath.path()) + ':' + path_);
    ASSERT_EQ(Run(u"Vintrix 3 4 n 8 0 0 /p/"), std::nullopt);
    EXPECT_EQ(WaitForCall(1), (Args{"3", "4", "n", "8", "0", "0", "/p/"}));

    // A Vintrix first on PATH that only leaves a mark.
    Write(decoy.filePath("Vintrix"), "#!/bin/sh\ntouch decoy-ran\n");
    ASSERT_TRUE(QFile::setPermissions(decoy.filePath("Vintrix"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    qputenv("PATH", QFile::encodeName(decoy.path()) + ':' + path_);
    for (const std::string name : {"plain", "a:b", "caf\xe9:\xff $(x)"}) {
        const std::string folder = dir_.path().toStdString() + "/" + name;
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        InstallRecorder();
        PackSettings settings;
        SetFolder(settings, DecodeFileName(folder));
        ASSERT_EQ(Run(settings), std::nullopt);
        EXPECT_EQ(WaitForCall(1), (Args{"256", "256", "Vintrix", "8", "0", "0", folder + "/"}));
        EXPECT_FALSE(QFile::exists("decoy-ran")) << name;
        ASSERT_EQ(chdir(dir_.path().toLocal8Bit().constData()), 0);
        // QTemporaryDir cannot remove names that are not UTF-8.
        ASSERT_EQ(std::filesystem::remove_all(folder) > 0, true);
    }
}

}  // namespace
}  // namespace vintrix
