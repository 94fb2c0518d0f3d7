#include "RunPackJob.h"

#include "CommandLine.h"
#include "FileNames.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace vintrix {
namespace {

// Runs each test in a fresh temporary current directory that holds a
// recording stand-in for Vintrix.
class RunPackJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        previous_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    }

    void TearDown() override
    {
        QDir::setCurrent(previous_);
        qputenv("PATH", path_);
    }

    // Folder names are bytes here, since they need not be UTF-8.
    void InstallRecorder(std::string folder = {})
    {
        if (folder.empty()) {
            folder = dir_.path().toStdString();
        }
        ASSERT_TRUE(std::filesystem::copy_file(RECORD_ARGS, folder + "/Vintrix"));
    }

    // Puts a folder first on the inherited PATH whose Vintrix only leaves a
    // mark, so a test sees which Vintrix the shell found.
    void InstallDecoyOnPath()
    {
        ASSERT_TRUE(decoy_.isValid());
        QFile decoy(decoy_.filePath("Vintrix"));
        ASSERT_TRUE(decoy.open(QIODevice::WriteOnly));
        decoy.write("#!/bin/sh\ntouch decoy-ran\n");
        decoy.close();
        ASSERT_TRUE(decoy.setPermissions(decoy.permissions() | QFileDevice::ExeOwner));
        qputenv("PATH", QFile::encodeName(decoy_.path()) + ':' + path_);
    }

    // The job is detached: wait for its record to appear in `folder` (bytes;
    // the test's folder when empty). The recorder links a complete record
    // into place, so once the name exists it is whole.
    std::vector<std::string> WaitForCall(int n, std::string folder = {})
    {
        const std::string record = (folder.empty() ? dir_.path().toStdString() : folder) + "/call-" + std::to_string(n);
        QElapsedTimer timer;
        timer.start();
        while (access(record.c_str(), F_OK) != 0 && timer.elapsed() < 10000) {
            QThread::msleep(5);
        }
        std::ifstream in(record, std::ios::binary);
        std::vector<std::string> args;
        for (std::string arg; std::getline(in, arg, '\0');) {
            args.push_back(arg);
        }
        return args;
    }

    std::optional<LaunchFailure> Run(const std::u16string& line)
    {
        return RunPackJob(line, [this](const QString& text) {
            notices_.push_back(text);
            scriptPresentAtNotice_ = QFile::exists(kScriptName);
        });
    }

    QTemporaryDir dir_;
    QTemporaryDir decoy_;
    QString previous_;
    const QByteArray path_ = qgetenv("PATH");
    std::vector<QString> notices_;
    bool scriptPresentAtNotice_ = false;
};

// Each notice here is closed at once, so a script's name may be gone before
// its shell starts: the shell reads the file it was handed, not the name.
TEST_F(RunPackJobTest, JobsInARowEachRunTheirOwnLineAndLeaveNoScript)
{
    InstallRecorder();
    constexpr int kJobs = 20;
    std::multiset<std::vector<std::string>> expected, calls;
    for (int i = 1; i <= kJobs; ++i) {
        const std::string name = "job" + std::to_string(i);
        ASSERT_EQ(Run(u"Vintrix 256 " + QString::number(i).toStdU16String() + u" " +
                      QString::fromStdString(name).toStdU16String() + u" 8 0 0 /a/"),
            std::nullopt);
        EXPECT_FALSE(QFile::exists(kScriptName));
        expected.insert({"256", std::to_string(i), name, "8", "0", "0", "/a/"});
    }
    // The detached jobs run side by side, so any may record first; a shell
    // that read another job's script would give two equal records.
    for (int i = 1; i <= kJobs; ++i) {
        calls.insert(WaitForCall(i));
    }
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(notices_, std::vector<QString>(kJobs, kNoticeText));
    EXPECT_TRUE(scriptPresentAtNotice_);
}

TEST_F(RunPackJobTest, AnEarlierScriptIsOverwrittenThenDeleted)
{
    InstallRecorder();
    QFile old(kScriptName);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("touch stale-script-ran\ntouch stale-script-ran\ntouch stale-script-ran\n");
    old.close();

    ASSERT_EQ(Run(u"Vintrix 1 2 n 8 0 0 /x/"), std::nullopt);
    EXPECT_EQ(WaitForCall(1), (std::vector<std::string>{"1", "2", "n", "8", "0", "0", "/x/"}));
    EXPECT_FALSE(QFile::exists(kScriptName));
    EXPECT_FALSE(QFile::exists("stale-script-ran"));
}

TEST_F(RunPackJobTest, AnUnwritableCurrentFolderIsReportedWithoutNoticeOrLeftovers)
{
    // Even root cannot create files in a folder that no longer exists.
    const QString gone = dir_.filePath("gone");
    ASSERT_TRUE(QDir().mkdir(gone));
    ASSERT_EQ(chdir(gone.toLocal8Bit().constData()), 0);
    ASSERT_TRUE(QDir().rmdir(gone));

    const auto failure = Run(u"Vintrix 256 256 Vintrix 8 0 0 ");
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->reason.startsWith("Cannot write temp.sh in the current folder: "))
        << failure->reason.toStdString();
    EXPECT_TRUE(notices_.empty());
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});
}

// The composed line goes through the real shell: whatever the name and folder
// hold, only the packer runs, and it receives them exactly.
TEST_F(RunPackJobTest, HostileNamesAndFoldersReachThePackerExactly)
{
    InstallRecorder();
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"Vintrix", u"/tmp/a; touch pwned-1;/"},
        {u"x$(touch pwned-2)", u"/tmp/$(touch pwned-3)/`touch pwned-4`/"},
        {u"it's \"quoted\"", u"/tmp/it's/"},
        {u"my sheet", u"/tmp/new\nline & more | > pwned-5/"},
        {u"Blätter *?[a]", u"/tmp/Über ~ \\ !# $HOME ${IFS}/"},
        {u"   ", u"/img/"},
    };
    int call = 0;
    for (const auto& [name, folder] : cases) {
        PackSettings settings;
        TakeName(settings, name);
        settings.imagesFolder = folder;
        ASSERT_EQ(Run(ComposeCommandLine(settings)), std::nullopt);
        const auto args = WaitForCall(++call);
        ASSERT_EQ(args.size(), 7u) << QString::fromStdU16String(folder).toStdString();
        EXPECT_EQ(args[2], QString::fromStdU16String(std::u16string(TrimBlanks(name))).toStdString());
        EXPECT_EQ(args[6], QString::fromStdU16String(folder).toStdString());
    }
    const QStringList left = QDir(dir_.path()).entryList(QDir::Files);
    EXPECT_TRUE(left.filter("pwned").isEmpty()) << left.join(' ').toStdString();
}

// Folder names are bytes: one that is not valid UTF-8 reaches the packer
// byte for byte.
TEST_F(RunPackJobTest, AFolderNameThatIsNotUtf8ReachesThePackerExactly)
{
    InstallRecorder();
    const std::string folder = dir_.path().toStdString() + "/caf\xe9 \xff$(x)";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);

    PackSettings settings;
    SetFolder(settings, DecodeFileName(folder));
    ASSERT_EQ(Run(ComposeCommandLine(settings)), std::nullopt);
    const auto args = WaitForCall(1);
    // QTemporaryDir cannot remove a name that is not UTF-8: remove it here.
    EXPECT_EQ(rmdir(folder.c_str()), 0);
    ASSERT_EQ(args.size(), 7u);
    EXPECT_EQ(args[6], folder + "/");
}

// The shell looks for Vintrix in the current folder first, whatever the
// folder's name, then beside this program (the job-window test, built
// beside Vintrix, runs it from there), then on the inherited PATH.
TEST_F(RunPackJobTest, VintrixIsFoundInTheCurrentFolderThenBesideTheProgramThenOnThePath)
{
    const QList<QByteArray> path = PackerSearchPath().split(':');
    ASSERT_GE(path.size(), 2);
    EXPECT_EQ(path[1], QFile::encodeName(QCoreApplication::applicationDirPath()));

    QTemporaryDir onPath;
    InstallRecorder(onPath.path().toStdString());
    qputenv("PATH", QFile::encodeName(onPath.path()) + ':' + path_);
    ASSERT_EQ(Run(u"Vintrix 3 4 n 8 0 0 /p/"), std::nullopt);
    EXPECT_EQ(WaitForCall(1), (std::vector<std::string>{"3", "4", "n", "8", "0", "0", "/p/"}));

    InstallDecoyOnPath();
    for (const std::string name : {"plain", "a:b", "caf\xe9:\xff x"}) {
        const std::string folder = dir_.path().toStdString() + "/" + name;
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        InstallRecorder(folder);
        ASSERT_EQ(Run(u"Vintrix 1 1 n 8 0 0 /x/"), std::nullopt);
        EXPECT_EQ(WaitForCall(1, folder).size(), 7u) << name;
        EXPECT_FALSE(QFile::exists("decoy-ran")) << name;
        ASSERT_EQ(chdir(dir_.path().toLocal8Bit().constData()), 0);
        // QTemporaryDir cannot remove names that are not UTF-8.
        ASSERT_EQ(std::system(("rm -r '" + folder + "'").c_str()), 0);
    }
}

// A link named temp.sh, planted by someone who can write the folder, is
// replaced as a name: nothing is written where it points.
TEST_F(RunPackJobTest, ALinkNamedLikeTheScriptIsNeverWrittenThrough)
{
    InstallRecorder();
    QTemporaryDir outside;
    const QString victim = outside.filePath("bashrc");
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("precious\n");
    file.close();
    const QString missing = outside.filePath("created-through-link");

    int call = 0;
    for (const QString& target : {victim, missing}) {
        ASSERT_TRUE(QFile::link(target, kScriptName));
        ASSERT_EQ(Run(u"Vintrix 1 2 n 8 0 0 /x/"), std::nullopt);
        EXPECT_EQ(WaitForCall(++call).size(), 7u) << target.toStdString();
        EXPECT_FALSE(QFileInfo::exists(kScriptName));
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "precious\n");
    EXPECT_FALSE(QFile::exists(missing));
}

// A temp.sh of another user could be changed by its owner between the write
// and the shell's read: it is refused, and nothing runs.
TEST_F(RunPackJobTest, AScriptOfAnotherUserIsRefused)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to create a file that another user owns";
    }
    InstallRecorder();
    QFile planted(kScriptName);
    ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
    planted.write("touch pwned\n");
    planted.close();
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(chown(kScriptName, kNobody, kNobody), 0);

    const auto failure = Run(u"Vintrix 1 2 n 8 0 0 /x/");
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->reason.contains("belongs to another user")) << failure->reason.toStdString();
    EXPECT_TRUE(notices_.empty());
    ASSERT_TRUE(planted.open(QIODevice::ReadOnly));
    EXPECT_EQ(planted.readAll(), "touch pwned\n");
    struct stat status {};
    ASSERT_EQ(stat(kScriptName, &status), 0);
    EXPECT_EQ(status.st_uid, kNobody);
    EXPECT_FALSE(QFile::exists("call-1"));
    EXPECT_FALSE(QFile::exists("pwned"));
}

}  // namespace
}  // namespace vintrix
