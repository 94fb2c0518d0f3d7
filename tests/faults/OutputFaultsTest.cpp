// The real Vintrix, started as a child process in a temporary folder, meets
// the faults a user's machine hands it while it writes: SIGKILL or SIGTERM at
// any moment, a full disk, a file size limit, a folder where a file should
// go, runs that overlap, other names' files, and an Output that is not a
// folder of the user's own. Whatever happens, each name's files in Output
// are the whole output of one run, byte for byte, and no run leaves files
// of its own behind once it, or the next run, is done.
#include "VintrixFolder.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <optional>
#include <random>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

namespace {

using namespace vintrix::test;

struct Job {
    QStringList args;  // WIDTH HEIGHT NAME BPP FORMAT MARGIN
    QString folder = "sprites/";
};

struct ChildSetup {
    std::optional<rlim_t> fileSize;
    int gate[2] = {-1, -1};    // waits for end of file on this pipe before it starts
    QString logs = "vintrix";  // LOGS.out and LOGS.err in the working folder
};

// A Vintrix child process with its output in files, so that no pipe can
// fill and stall it.
class Child {
public:
    Child(const QString& workDir, const QStringList& args, ChildSetup setup = {}) : dir_(workDir), logs_(setup.logs)
    {
        std::vector<QByteArray> bytes{QByteArray(VINTRIX_BINARY)};
        for (const QString& a : args)
            bytes.push_back(QFile::encodeName(a));
        std::vector<char*> argv;
        for (QByteArray& b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        const QByteArray dir = QFile::encodeName(workDir);
        const QByteArray out = QFile::encodeName(workDir + "/" + logs_ + ".out");
        const QByteArray err = QFile::encodeName(workDir + "/" + logs_ + ".err");
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls from here to exec.
            const int o = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(dir.constData()) != 0)
                ::_exit(127);
            ::signal(SIGXFSZ, SIG_DFL);  // as a shell leaves it
            if (setup.fileSize) {
                const rlimit limit{*setup.fileSize, *setup.fileSize};
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                    ::_exit(127);
            }
            char byte;
            if (setup.gate[1] >= 0)
                ::close(setup.gate[1]);
            while (setup.gate[0] >= 0 && ::read(setup.gate[0], &byte, 1) > 0) {}
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Child()
    {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }

    // Whether it has ended, without waiting.
    bool finished()
    {
        if (reaped_)
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_)
            return false;
        record(status);
        return true;
    }
    void wait()
    {
        int status = 0;
        while (!reaped_ && ::waitpid(pid_, &status, 0) == pid_)
            record(status);
    }
    void kill(int sig = SIGKILL)
    {
        if (started() && !finished()) {
            ::kill(pid_, sig);
            wait();
        }
    }

    int exitCode() const { return exitCode_; }  // -signal when killed
    QString err() const { return read(".err"); }
    QString out() const { return read(".out"); }

private:
    void record(int status)
    {
        reaped_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    QString read(const char* ext) const
    {
        QFile f(dir_ + "/" + logs_ + ext);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QString dir_, logs_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int exitCode_ = -1;
};

QImage noise(std::mt19937& rng, int w, int h)
{
    QImage img(w, h, QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = static_cast<quint32>(rng()) | 0xFF000000u;  // opaque noise: no compression helps
    }
    return img;
}

class OutputFaults : public VintrixFolder {
protected:
    void SetUp() override
    {
        VintrixFolder::SetUp();
        ASSERT_TRUE(work_.mkpath("probe"));
        QImage dot(3, 3, QImage::Format_RGBA8888);
        dot.fill(Qt::blue);
        ASSERT_TRUE(dot.save(path("probe/dot.png")));
    }
    void TearDown() override
    {
        if (mounted_)
            ::umount2(QFile::encodeName(path("Output")).constData(), MNT_DETACH);
    }

    void sprites(int count, int minSide, int maxSide, unsigned seed)
    {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> side(minSide, maxSide);
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(noise(rng, side(rng), side(rng)).save(path(QString("sprites/s%1.png").arg(i))));
    }

    static QStringList argsOf(const Job& job) { return job.args + QStringList{job.folder}; }

    int run(const Job& job, QString* err = nullptr)
    {
        Child c(work_.path(), argsOf(job));
        c.wait();
        if (err)
            *err = c.err();
        EXPECT_TRUE(c.exitCode() == Ok || err) << c.err().toStdString();
        return c.exitCode();
    }

    // Every file in Output, Vintrix's bookkeeping included.
    Files allOutput() const { return FilesIn(path("Output"), true); }
    // The files of the run named `name` (and of names that start like it).
    static Files only(const Files& files, const QString& name)
    {
        Files some;
        for (const auto& [file, bytes] : files)
            if (file.startsWith(name))
                some[file] = bytes;
        return some;
    }
    // Hidden files and folders in Output other than the bookkeeping: what
    // runs left of their own.
    QStringList leftovers() const
    {
        QStringList names;
        for (const QString& name :
            QDir(path("Output")).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            if (name.startsWith('.') && !IsBookkeeping(name))
                names << name;
        return names;
    }
    // Files of n the runs under way have made so far; -1 before a run has
    // its folder.
    int runFiles() const
    {
        int count = -1;
        for (const QString& run : QDir(path("Output")).entryList({".vintrix-run-*"}, QDir::Dirs | QDir::Hidden))
            count = std::max(count, 0) + int(QDir(path("Output/" + run)).entryList({"n*"}, QDir::Files).size());
        return count;
    }
    // Output/n.png's inode, to see when a run puts another file there.
    ino_t inodeOfN() const
    {
        struct stat st {};
        return ::stat(QFile::encodeName(path("Output/n.png")).constData(), &st) == 0 ? st.st_ino : 0;
    }
    // Waits until `child` ends or replaces Output/n.png, the inode of which was
    // `before`: the moment it starts putting the new output in place.
    void waitUntilNIsReplaced(Child& child, ino_t before) const
    {
        while (!child.finished() && inodeOfN() == before) {}
    }
    // Whether a run left the journal of a commit it did not finish.
    bool journalLeft() const
    {
        for (const QString& run : QDir(path("Output")).entryList({".vintrix-run-*"}, QDir::Dirs | QDir::Hidden))
            if (QFileInfo::exists(path("Output/" + run + "/commit")))
                return true;
        return false;
    }

    // Output holds `files` and nothing else; the folder itself stays, as it
    // may be a mount point.
    void restore(const Files& files)
    {
        ASSERT_TRUE(work_.mkpath("Output"));
        QDir output(path("Output"));
        for (const QFileInfo& entry :
            output.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            ASSERT_TRUE(entry.isDir() ? QDir(entry.filePath()).removeRecursively() : output.remove(entry.fileName()));
        for (const auto& [name, bytes] : files) {
            QFile f(path("Output/" + name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_EQ(f.write(bytes), bytes.size());
        }
    }

    // What `job` writes into an empty Output, made in a folder of its own.
    Files reference(const Job& job)
    {
        QTemporaryDir other;
        EXPECT_TRUE(other.isValid());
        Child c(other.path(), job.args + QStringList{path(job.folder)});
        c.wait();
        EXPECT_EQ(c.exitCode(), Ok) << c.err().toStdString();
        return FilesIn(other.path() + "/Output");
    }

    // Starts every job at once: the children are forked first and then
    // released together. Returns their exit codes; `errs` gets their stderr.
    std::vector<int> runTogether(const std::vector<Job>& jobs, QStringList* errs = nullptr)
    {
        int gate[2];
        EXPECT_EQ(::pipe2(gate, O_CLOEXEC), 0);
        std::vector<std::unique_ptr<Child>> children;
        for (std::size_t i = 0; i < jobs.size(); ++i)
            children.push_back(std::make_unique<Child>(
                work_.path(), argsOf(jobs[i]), ChildSetup{{}, {gate[0], gate[1]}, QString("run%1").arg(i)}));
        ::close(gate[1]);
        ::close(gate[0]);
        std::vector<int> codes;
        for (auto& c : children) {
            c->wait();
            codes.push_back(c->exitCode());
            if (errs)
                *errs << c->err();
        }
        return codes;
    }

    // Every frame that the data files of `name` list shows its sprite, pixel
    // for pixel, and every sheet or data file named like `name`'s is one of them.
    ::testing::AssertionResult wholeOutputOf(const QString& name)
    {
        const QString differs = FramesDiffer(path("Output"), name, path("sprites"));
        if (!differs.isEmpty())
            return ::testing::AssertionFailure() << differs.toStdString();
        const Atlas atlas = ReadAtlas(path("Output"), name);
        std::set<QString> named(atlas.dataFiles.begin(), atlas.dataFiles.end());
        for (const auto& [file, frame] : atlas.frames)
            named.insert(frame.sheet);
        const QRegularExpression sheetName("^" + QRegularExpression::escape(name) + "(-[0-9]+)?\\.(png|bmp|json)$");
        for (const auto& [file, bytes] : allOutput())
            if (sheetName.match(file).hasMatch() && !named.count(file))
                return ::testing::AssertionFailure()
                    << file.toStdString() << " is named by no data file of " << name.toStdString();
        return ::testing::AssertionSuccess();
    }

    bool mountSmallDisk(qint64 bytes)
    {
        if (!work_.mkpath("Output"))
            return false;
        const QByteArray options = "size=" + QByteArray::number(bytes);
        mounted_ =
            ::mount("tmpfs", QFile::encodeName(path("Output")).constData(), "tmpfs", 0, options.constData()) == 0;
        return mounted_;
    }

    bool mounted_ = false;
};

// ---- SIGKILL and SIGTERM --------------------------------------------------

// When the kill comes: once the run has its folder and a seeded number of
// files in it (none: while it reads the images); or the moment the first
// file of the new output is in place, that is in the middle of putting them
// there.
struct KillCase {
    const char* label;
    int sprites, minSide, maxSide;
    Job before, after;
    bool whileInPlace;
    int kills;
};

void PrintTo(const KillCase& c, std::ostream* os)
{
    *os << c.label;
}

class KilledWhileWriting : public OutputFaults, public ::testing::WithParamInterface<KillCase> {};

// Output holds the earlier or the new output, except when the kill lands
// while the files are put in place. Then each file of n is the earlier or
// the new one, the journal is left, and the next run, of any name, finishes
// the new output.
TEST_P(KilledWhileWriting, LeavesTheEarlierOrTheNewOutputWholeOrForTheNextRunToFinish)
{
    const KillCase& c = GetParam();
    sprites(c.sprites, c.minSide, c.maxSide, 17);
    const Files after = reference(c.after);
    ASSERT_EQ(run(c.before), Ok);
    const Files before = allOutput();
    const Files earlier = only(before, "n");
    ASSERT_NE(earlier, after);

    std::mt19937 rng(2024);
    for (int k = 0; k < c.kills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        const ino_t firstInode = inodeOfN();
        ASSERT_NE(firstInode, 0u);
        Child child(work_.path(), argsOf(c.after));
        ASSERT_TRUE(child.started());
        if (c.whileInPlace) {
            waitUntilNIsReplaced(child, firstInode);
        } else {
            const int want = std::uniform_int_distribution<int>(0, static_cast<int>(after.size()))(rng);
            while (!child.finished() && runFiles() < want)
                QThread::usleep(200);
        }
        child.kill();

        const Files left = allOutput();
        const bool committing = journalLeft();
        const Files visible = only(left, "n");
        if (committing) {
            for (const auto& [file, bytes] : visible) {
                const auto old = earlier.find(file), now = after.find(file);
                EXPECT_TRUE(
                    (old != earlier.end() && old->second == bytes) || (now != after.end() && now->second == bytes))
                    << file.toStdString() << " is neither the earlier nor the new one";
            }
        } else {
            EXPECT_TRUE(visible == earlier || visible == after) << "a mix of two runs";
        }

        // The next successful run in the folder, of another name, tidies up.
        ASSERT_EQ(run(Job{{"16", "16", "probe", "32", "1", "0"}, "probe/"}), Ok) << "probe";
        EXPECT_EQ(leftovers(), QStringList{});
        const Files mine = only(allOutput(), "n");
        if (committing) {
            EXPECT_EQ(mine, after) << "a commit under way is finished";
        } else {
            EXPECT_TRUE(mine == visible) << "the probe changed the output of n";
        }
        restore(before);
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, KilledWhileWriting,
    ::testing::Values(
        // Two large sheets of noise: the kill lands while rows are written.
        KillCase{"largeSheets", 90, 60, 200, Job{{"2048", "2048", "n", "32", "1", "0"}},
            Job{{"1536", "1536", "n", "32", "1", "1"}}, false, 10},
        // Many small sheets: putting hundreds of files in place takes long
        // enough to be caught in the middle.
        KillCase{"manySheetsFirstInPlace", 160, 40, 40, Job{{"48", "48", "n", "32", "1", "0"}},
            Job{{"96", "96", "n", "32", "1", "1"}}, true, 6}),
    [](const auto& info) { return std::string(info.param.label); });

// Many sheets of one image each, written by several threads: new files are
// created all the time, also while a stopped run removes its own.
TEST_F(OutputFaults, SigtermWhileSheetsAreWrittenLeavesNoFileOfTheRun)
{
    sprites(400, 8, 8, 9);
    std::mt19937 rng(77);
    for (int k = 0; k < 16; ++k) {
        SCOPED_TRACE("stop " + std::to_string(k));
        ASSERT_TRUE(QDir(path("Output")).removeRecursively());
        Child child(work_.path(), argsOf(Job{{"8", "8", "n", "32", "1", "0"}}));
        const int want = std::uniform_int_distribution<int>(1, 400)(rng);
        while (!child.finished() && runFiles() < want)
            QThread::usleep(200);
        child.kill(SIGTERM);
        EXPECT_TRUE(child.exitCode() == -SIGTERM || child.exitCode() == Ok) << child.exitCode();
        EXPECT_EQ(leftovers(), QStringList{});
        if (!only(allOutput(), "n").empty()) {
            EXPECT_TRUE(wholeOutputOf("n")) << "a run stopped while it put its files in place finishes first";
        }
    }
}

// ---- runs that overlap -----------------------------------------------------

Job sized(const QString& name, int side)
{
    return Job{{QString::number(side), QString::number(side), name, "32", "1", "0"}};
}

struct OverlapCase {
    const char* label;
    std::vector<Job> jobs;  // released together
    int rounds;
};

void PrintTo(const OverlapCase& c, std::ostream* os)
{
    *os << c.label;
}

class Overlapping : public OutputFaults, public ::testing::WithParamInterface<OverlapCase> {};

// Whatever order the runs take, every one succeeds, and each name's files
// are the whole output of one of its runs: the same bytes as that run makes
// alone, every frame showing its sprite.
TEST_P(Overlapping, RunsLeaveEachNameTheWholeOutputOfOneRun)
{
    const OverlapCase& c = GetParam();
    sprites(14, 6, 24, 21);
    std::map<QString, std::vector<Files>> outputsOf;
    for (const Job& job : c.jobs)
        outputsOf[job.args[2]].push_back(reference(job));
    for (const auto& [name, outputs] : outputsOf)
        for (std::size_t i = 1; i < outputs.size(); ++i)
            ASSERT_NE(outputs[i], outputs[0]) << "the runs of " << name.toStdString() << " must differ";

    for (int round = 0; round < c.rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        QStringList errs;
        const std::vector<int> codes = runTogether(c.jobs, &errs);
        for (std::size_t i = 0; i < codes.size(); ++i) {
            EXPECT_EQ(codes[i], Ok) << errs[static_cast<int>(i)].toStdString();
            EXPECT_TRUE(errs[static_cast<int>(i)].isEmpty() ||
                errs[static_cast<int>(i)] == "Vintrix: waiting for another run writing into Output\n")
                << errs[static_cast<int>(i)].toStdString();
        }
        const Files left = allOutput();
        for (const auto& [name, outputs] : outputsOf) {
            const QRegularExpression mine("^" + name + "(-[0-9]+)?\\.(png|json)$");
            Files visible;
            for (const auto& [file, bytes] : left)
                if (mine.match(file).hasMatch())
                    visible[file] = bytes;
            EXPECT_TRUE(std::find(outputs.begin(), outputs.end(), visible) != outputs.end())
                << "the files of " << name.toStdString() << " are no one run's output";
            EXPECT_TRUE(wholeOutputOf(name));
        }
        EXPECT_EQ(leftovers(), QStringList{});
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, Overlapping,
    ::testing::Values(OverlapCase{"twoOfOneName", {sized("n", 40), sized("n", 28)}, 10},
        OverlapCase{"sixOfOneName",
            {sized("n", 24), sized("n", 26), sized("n", 28), sized("n", 30), sized("n", 32), sized("n", 36)}, 5},
        OverlapCase{"twoEachOfFourNames",
            {sized("a", 24), sized("a", 40), sized("b", 28), sized("b", 48), sized("c", 32), sized("c", 96),
                sized("d", 24), sized("d", 96)},
            4}),
    [](const auto& info) { return std::string(info.param.label); });

// A run that finds the folder's lock taken says so, waits, and writes only
// once it has the lock.
TEST_F(OutputFaults, ARunWaitsForTheLockAndSaysSo)
{
    sprites(6, 10, 20, 3);
    const Files want = reference(sized("n", 64));
    ASSERT_TRUE(work_.mkpath("Output"));
    const int lock =
        ::open(QFile::encodeName(path("Output/.vintrix.lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);

    Child child(work_.path(), argsOf(sized("n", 64)));
    QElapsedTimer waited;
    waited.start();
    // The line may arrive in pieces: wait for its end.
    while (!child.finished() && !child.err().contains(u'\n') && waited.elapsed() < 60000)
        QThread::usleep(1000);
    EXPECT_EQ(child.err(), "Vintrix: waiting for another run writing into Output\n");
    EXPECT_FALSE(child.finished());
    EXPECT_EQ(output(), Files{});

    ::close(lock);
    child.wait();
    EXPECT_EQ(child.exitCode(), Ok);
    EXPECT_EQ(output(), want);
}

// ---- other names' files -----------------------------------------------------

struct OwnerCase {
    const char* label;
    Job first, second;
    const char* refusal;  // nullptr: both outputs stay side by side
};

void PrintTo(const OwnerCase& c, std::ostream* os)
{
    *os << c.label;
}

class OtherNames : public OutputFaults, public ::testing::WithParamInterface<OwnerCase> {};

// "level" with two sheets writes level-2.png, the sheet of the name
// "level-2". A run never removes or replaces a file another name wrote: it
// refuses before writing anything, and names the other output.
TEST_P(OtherNames, ARunLeavesTheFilesOfAnotherNameAlone)
{
    const OwnerCase& c = GetParam();
    sprites(6, 20, 20, 4);  // 32²: one sprite a sheet; 64²: four
    const Files second = reference(c.second);
    ASSERT_EQ(run(c.first), Ok);
    const Files earlier = output();

    QString err;
    const int code = run(c.second, &err);
    if (c.refusal) {
        EXPECT_EQ(code, OutputFailed);
        EXPECT_EQ(err, QString("error: ") + c.refusal + "\n");
        EXPECT_EQ(output(), earlier);
    } else {
        EXPECT_EQ(code, Ok) << err.toStdString();
        Files both = earlier;
        both.insert(second.begin(), second.end());
        EXPECT_EQ(output(), both);
    }
    EXPECT_EQ(leftovers(), QStringList{});

    // Once the other output is gone, the name is free again.
    if (c.refusal) {
        for (const auto& [file, bytes] : earlier)
            ASSERT_TRUE(QFile::remove(path("Output/" + file)));
        EXPECT_EQ(run(c.second), Ok);
        EXPECT_EQ(output(), second);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, OtherNames,
    ::testing::Values(OwnerCase{"oneSheetBesideANameThatEndsInTwo", sized("level-2", 64), sized("level", 64), nullptr},
        OwnerCase{"secondSheetOnANameThatEndsInTwo", sized("level-2", 64), sized("level", 40),
            "cannot write the output named \"level\": Output/\"level-2.png\" belongs to the output named "
            "\"level-2\"; choose another name or remove that output"},
        OwnerCase{"aNameThatEndsInTwoOnASecondSheet", sized("level", 40), sized("level-2", 64),
            "cannot write the output named \"level-2\": Output/\"level-2.png\" belongs to the output named "
            "\"level\"; choose another name or remove that output"}),
    [](const auto& info) { return std::string(info.param.label); });

// Released together, whichever commits first keeps its output; the other
// is refused whole.
TEST_F(OutputFaults, OverlappingRunsOfCollidingNamesLeaveOneWholeOutput)
{
    sprites(6, 20, 20, 4);
    const Job level = sized("level", 40), level2 = sized("level-2", 64);
    const Files levelAlone = reference(level), level2Alone = reference(level2);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(QDir(path("Output")).removeRecursively());
        QStringList errs;
        const std::vector<int> codes = runTogether({level, level2}, &errs);
        const std::multiset<int> outcome(codes.begin(), codes.end());
        ASSERT_EQ(outcome, (std::multiset<int>{Ok, OutputFailed})) << errs.join("").toStdString();
        const int refused = codes[0] == Ok ? 1 : 0;
        EXPECT_TRUE(errs[refused].contains("belongs to the output named")) << errs[refused].toStdString();
        EXPECT_EQ(output(), refused == 1 ? levelAlone : level2Alone);
        EXPECT_EQ(leftovers(), QStringList{});
    }
}

// A killed run's half-done commit belongs to nobody once its lock is free,
// even when another process has its number. The run that comes next
// finishes it before it commits, so it is never carried out over newer
// output later.
TEST_F(OutputFaults, AKilledRunsCommitIsFinishedBeforeNewerOutputWhateverProcessHasItsNumber)
{
    sprites(100, 40, 40, 17);
    const Job before = sized("n", 48), killed{{"96", "96", "n", "32", "1", "1"}}, newer = sized("n", 64);
    const Files earlier = reference(before), killedOutput = reference(killed), want = reference(newer);
    bool caught = false;
    pid_t killedPid = 0;
    for (int attempt = 0; attempt < 20 && !caught; ++attempt) {
        ASSERT_TRUE(QDir(path("Output")).removeRecursively());
        ASSERT_EQ(run(before), Ok);
        const ino_t first = inodeOfN();
        ASSERT_NE(first, 0u);
        Child child(work_.path(), argsOf(killed));
        waitUntilNIsReplaced(child, first);
        child.kill();
        const Files visible = only(allOutput(), "n");
        caught = visible != earlier && visible != killedOutput;  // in the middle of the renames
        killedPid = child.pid();
    }
    if (!caught)
        GTEST_SKIP() << "no kill landed in the middle of the renames";

    // A process of the killed run's number, alive while the next run commits.
    pid_t holder = -1;
    for (int attempt = 0; attempt < 20 && holder != killedPid; ++attempt) {
        if (holder > 0) {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
        }
        QFile last("/proc/sys/kernel/ns_last_pid");
        if (!last.open(QIODevice::WriteOnly) || last.write(QByteArray::number(killedPid - 1)) <= 0)
            GTEST_SKIP() << "cannot choose the number of a new process here (needs root)";
        last.close();
        holder = ::fork();
        if (holder == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    if (holder != killedPid) {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        GTEST_SKIP() << "another process took the number";
    }
    EXPECT_EQ(run(newer), Ok);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(run(Job{{"16", "16", "probe", "32", "1", "0"}, "probe/"}), Ok);
    EXPECT_EQ(only(allOutput(), "n"), want);
    EXPECT_EQ(leftovers(), QStringList{});
}

// ---- what stands at Output --------------------------------------------------

struct AtOutputCase {
    const char* label;
    std::function<bool(const QDir& work)> plant;  // false: cannot be planted here
    const char* message;
};

void PrintTo(const AtOutputCase& c, std::ostream* os)
{
    *os << c.label;
}

class SomethingAtOutput : public OutputFaults, public ::testing::WithParamInterface<AtOutputCase> {};

// Output that is not a folder of the user's own is refused, saying what is
// there, and nothing is written through it.
TEST_P(SomethingAtOutput, IsRefusedSayingWhatIsThere)
{
    const AtOutputCase& c = GetParam();
    sprites(2, 8, 8, 1);
    ASSERT_TRUE(work_.mkpath("elsewhere"));
    QFile victim(path("victim.txt"));
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("untouched");
    victim.close();
    if (!c.plant(work_))
        GTEST_SKIP() << "cannot plant this here (needs root)";
    QString err;
    EXPECT_EQ(run(sized("n", 32), &err), OutputFailed);
    EXPECT_EQ(err, QString("error: cannot use Output as the output folder: ") + c.message + "\n");
    EXPECT_EQ(QDir(path("elsewhere")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{});
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), "untouched");
}

bool plantLink(const QDir& work, const char* target)
{
    return ::symlink(target, QFile::encodeName(work.filePath("Output")).constData()) == 0;
}

INSTANTIATE_TEST_SUITE_P(Things, SomethingAtOutput,
    ::testing::Values(AtOutputCase{"aFile",
                          [](const QDir& w) {
                              QFile f(w.filePath("Output"));
                              return f.open(QIODevice::WriteOnly);
                          },
                          "it is a file, not a folder"},
        AtOutputCase{"aBrokenLink", [](const QDir& w) { return plantLink(w, "missing"); },
            "it is a symbolic link to \"missing\", which does not exist, and Vintrix writes only into a real folder"},
        AtOutputCase{"aLinkToAFolder", [](const QDir& w) { return plantLink(w, "elsewhere"); },
            "it is a symbolic link to \"elsewhere\", and Vintrix writes only into a real folder"},
        AtOutputCase{"aLinkToAFile", [](const QDir& w) { return plantLink(w, "victim.txt"); },
            "it is a symbolic link to \"victim.txt\", and Vintrix writes only into a real folder"},
        AtOutputCase{"aNamedPipe",
            [](const QDir& w) { return ::mkfifo(QFile::encodeName(w.filePath("Output")).constData(), 0644) == 0; },
            "it is a named pipe, not a folder"},
        AtOutputCase{"anotherUsersFolderInAFolderOthersCanWrite",
            [](const QDir& w) {
                const QByteArray out = QFile::encodeName(w.filePath("Output"));
                return ::chmod(QFile::encodeName(w.path()).constData(), 01777) == 0 &&
                    ::mkdir(out.constData(), 0777) == 0 && ::chown(out.constData(), 65534, 65534) == 0 &&
                    ::geteuid() != 65534;
            },
            "it belongs to another user (uid 65534) and the folder it is in can be written by others"}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- a disk that fills up --------------------------------------------------

// A tmpfs only just too small, at every point of the run: the sheets, the
// data files, the commit journal. Either the whole new output is there or a
// clear error and the whole earlier output.
TEST_F(OutputFaults, AFullDiskFailsClearlyAndKeepsTheEarlierOutput)
{
    sprites(24, 30, 60, 5);
    const Job before{{"128", "128", "n", "32", "1", "0"}};
    const Job after{{"160", "160", "n", "32", "0", "1"}};  // BMP: larger, and sizes known in advance
    const Files want = reference(after);
    qint64 newBytes = 0;
    for (const auto& [name, bytes] : want)
        newBytes += bytes.size();

    constexpr qint64 kPage = 4096;
    if (!mountSmallDisk(64 * 1024 * 1024))
        GTEST_SKIP() << "cannot mount a tmpfs here (needs CAP_SYS_ADMIN); the file size limit test still runs";
    ASSERT_EQ(run(before), Ok);
    const Files earlier = allOutput();
    qint64 oldBytes = 0;
    for (const auto& [name, bytes] : earlier)
        oldBytes += (bytes.size() + kPage - 1) / kPage * kPage;

    int failed = 0, succeeded = 0;
    for (qint64 room = 0; room <= newBytes + 64 * 1024; room += std::max<qint64>(kPage, newBytes / 24)) {
        SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
        ASSERT_EQ(::umount2(QFile::encodeName(path("Output")).constData(), MNT_DETACH), 0);
        mounted_ = false;
        ASSERT_TRUE(mountSmallDisk(oldBytes + room + kPage));
        restore(earlier);

        QString err;
        const int code = run(after, &err);
        const Files left = allOutput();
        if (code == Ok) {
            ++succeeded;
            EXPECT_EQ(output(), want);
        } else {
            ++failed;
            EXPECT_EQ(code, OutputFailed);
            EXPECT_TRUE(err.startsWith("error: cannot ") && err.contains("No space left on device"))
                << err.toStdString();
            EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
            EXPECT_EQ(left, earlier);
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(succeeded, 0);
}

// The same through a file size limit, with SIGXFSZ left at its default
// action as a shell leaves it: the limit fails the write, not the run.
TEST_F(OutputFaults, AFileSizeLimitFailsClearlyAndKeepsTheEarlierOutput)
{
    sprites(12, 30, 60, 6);
    const Job before{{"128", "128", "n", "32", "1", "0"}};
    const Job after{{"256", "256", "n", "32", "0", "0"}};
    ASSERT_EQ(run(before), Ok);
    const Files earlier = allOutput();

    // Room for the error message in the run's log, not for the sheets.
    for (rlim_t limit : {rlim_t{512}, rlim_t{64 * 1024}}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        Child c(work_.path(), argsOf(after), ChildSetup{limit});
        c.wait();
        EXPECT_EQ(c.exitCode(), OutputFailed) << c.err().toStdString();
        EXPECT_TRUE(c.err().startsWith("error: cannot write Output/") && c.err().contains("File too large"))
            << c.err().toStdString();
        EXPECT_EQ(allOutput(), earlier);
    }
}

// ---- something in the way ---------------------------------------------------

TEST_F(OutputFaults, AFolderInPlaceOfAnOutputFileLeavesTheEarlierOutputWhole)
{
    sprites(6, 30, 30, 7);
    ASSERT_EQ(run(Job{{"64", "64", "n", "32", "1", "0"}}), Ok);  // four images a sheet
    // The new run writes one image a sheet; its data files go in last, and
    // the first of them last of all.
    ASSERT_TRUE(work_.mkpath("Output/n-3.json/inside"));
    const Files earlier = allOutput();

    QString err;
    EXPECT_EQ(run(Job{{"40", "40", "n", "32", "1", "1"}}, &err), OutputFailed);
    EXPECT_EQ(err, "error: cannot replace Output/n-3.json: it is a folder\n");
    EXPECT_EQ(allOutput(), earlier);
}

}  // namespace
