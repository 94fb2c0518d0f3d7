// The real Vintrix, started as a child process in a temporary folder, meets
// the faults a user's machine hands it while it writes: SIGKILL or SIGTERM at
// any moment, a full disk, a file size limit, a folder where a file should
// go, runs that overlap or overtake each other, other names' files, and an
// Output that is not a folder of the user's own. Whatever happens, each
// name's files in Output are the whole output of one run, byte for byte, and
// no run leaves files of its own behind once it, or the next run, is done.
#include "VintrixFolder.h"

#include <algorithm>
#include <memory>
#include <set>
#include <random>

#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QThread>

namespace {

using namespace vintrix::test;

// WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER, the folder relative to the test's.
using Job = QStringList;

// Square sheets of `side` from sprites/, 32 bits a pixel; format 1 is PNG, 0 BMP.
Job sized(const QString& name, int side, int format = 1, int margin = 0)
{
    const QString s = QString::number(side);
    return {s, s, name, "32", QString::number(format), QString::number(margin), "sprites/"};
}
// A run of another name, on one sheet.
const Job kProbe = sized("probe", 1024);

const QString kWaitingLine = "Vintrix: waiting for another run writing into Output\n";

// What a run says when a run of the name %1 that started after it has put
// its output in place first.
const QString kSupersededLine = "error: superseded: a run of the output named \"%1\" started after this one and "
                                "has already put its files into Output; they stay, and this run's files are removed\n";

// Takes Output's lock as a run takes it: LOCK_EX waits for it, LOCK_EX |
// LOCK_NB does not. Closing `lock` releases it.
bool TakeLock(QFile& lock, int how)
{
    lock.close();
    return lock.open(QIODevice::ReadWrite) && ::flock(lock.handle(), how) == 0;
}

// A Vintrix child process with its stdout dropped.
class Child {
public:
    Child(const QString& workDir, const QStringList& args)
    {
        p_.setWorkingDirectory(workDir);
        p_.setStandardOutputFile(QProcess::nullDevice());
        p_.setReadChannel(QProcess::StandardError);
        p_.start(VINTRIX_BINARY, args);
    }
    ~Child() { kill(); }

    // Its process number, while it runs.
    pid_t pid() const { return p_.processId(); }
    // Whether it has ended, without waiting for that.
    bool finished() { return p_.state() == QProcess::NotRunning || p_.waitForFinished(0); }
    void wait() { p_.waitForFinished(-1); }
    // Stops it and waits until it has stopped, so that it takes no lock
    // meanwhile; false when it has ended instead. The stop is not reaped.
    bool stop()
    {
        siginfo_t info{};
        return !finished() && ::kill(pid(), SIGSTOP) == 0 &&
            ::waitid(P_PID, pid(), &info, WSTOPPED | WEXITED | WNOWAIT) == 0 && info.si_code == CLD_STOPPED;
    }
    void resume()
    {
        if (!finished())
            ::kill(pid(), SIGCONT);
    }
    void kill(int sig = SIGKILL)
    {
        if (!finished()) {
            ::kill(pid(), sig);
            wait();
        }
    }
    // -signal when killed
    int exitCode() const { return p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -p_.exitCode(); }
    // All it has written to stderr so far.
    QString err() { return QString::fromUtf8(err_ += p_.readAllStandardError()); }
    // Its first line on stderr, once it is whole (the write may arrive in
    // pieces), or all it wrote if it ended without one.
    QString firstLine()
    {
        while (!err().contains(u'\n') && p_.waitForReadyRead(60000)) {}
        return err().section(u'\n', 0, 0, QString::SectionIncludeTrailingSep);
    }

private:
    QProcess p_;
    QByteArray err_;
};

// Each table case is printed by its label.
template <class Case>
auto operator<<(std::ostream& os, const Case& c) -> decltype(c.label, os)
{
    return os << c.label;
}

class OutputFaults : public VintrixFolder {
protected:
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
            save(RandomSprite(rng, side(rng), side(rng)), QString("s%1.png").arg(i));  // little for compression
    }

    // Every file in Output, Vintrix's bookkeeping included.
    Files allOutput() const { return FilesIn(path("Output"), true); }
    // Every entry below the test's folder, without following links: a
    // file's bytes, a link's target, or what kind of entry it is.
    Files everything() const
    {
        Files all;
        QDirIterator it(work_.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            QFile file(entry.filePath());
            all[work_.relativeFilePath(entry.filePath())] = entry.isSymLink()
                ? "link to " + entry.symLinkTarget().toUtf8()
                : entry.isDir()                                    ? "folder"
                : entry.isFile() && file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                   : "other";
        }
        return all;
    }
    // The files of the run named `name` (and of names that start like it).
    static Files only(Files files, const QString& name)
    {
        std::erase_if(files, [&name](const auto& file) { return !file.first.startsWith(name); });
        return files;
    }
    QStringList inOutput(const QString& pattern, QDir::Filters filters) const
    {
        return QDir(path("Output")).entryList({pattern}, filters | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    // Hidden files and folders in Output other than the bookkeeping: what
    // runs left of their own.
    QStringList leftovers() const
    {
        QStringList names = inOutput(".*", QDir::AllEntries | QDir::System);
        names.removeIf([](const QString& name) { return IsBookkeeping(name); });
        return names;
    }
    // Files of n the runs under way have made so far; -1 before a run has
    // its folder.
    int runFiles() const
    {
        int count = -1;
        for (const QString& run : inOutput(".vintrix-run-*", QDir::Dirs))
            count = std::max(count, 0) + int(QDir(path("Output/" + run)).entryList({"n*"}, QDir::Files).size());
        return count;
    }
    // Whether a run left the journal of a commit it did not finish.
    bool journalLeft() const
    {
        return std::ranges::any_of(
            inOutput(".vintrix-run-*", QDir::Dirs),
            [this](const QString& run) { return QFileInfo::exists(path("Output/" + run + "/commit")); });
    }
    // Output/n.png's inode, to see when a run puts another file there.
    ino_t inodeOfN() const
    {
        struct stat st {};
        return ::stat(QFile::encodeName(path("Output/n.png")).constData(), &st) == 0 ? st.st_ino : 0;
    }
    // Kills `child` the moment it replaces Output/n.png, the inode of which
    // was `before`: when it starts putting the new output in place.
    void killWhenNIsReplaced(Child& child, ino_t before, int signal = SIGKILL) const
    {
        while (!child.finished() && inodeOfN() == before) {}
        child.kill(signal);
    }

    // What `job` writes into an empty Output, made in a folder of its own.
    Files reference(const Job& job)
    {
        QTemporaryDir other;
        EXPECT_TRUE(Ran(RunVintrix(other.path(), job.mid(0, 6) << path(job[6]), env_)));
        return FilesIn(other.path() + "/Output");
    }

    bool mounted_ = false;
};

// ---- SIGKILL and SIGTERM --------------------------------------------------

// When the kill comes: once the run has its folder and a seeded number of
// files in it (none: while it reads the images); or the moment the first
// file of the new output is in place, that is in the middle of putting them
// there. SIGTERM stops a run as a user's Ctrl+C does.
struct KillCase {
    const char* label;
    int sprites, minSide, maxSide;
    Job before, after;
    bool whileInPlace;
    int kills;
    int signal = SIGKILL;
};

class KilledWhileWriting : public OutputFaults, public ::testing::WithParamInterface<KillCase> {};

// Output holds the earlier or the new output, except when SIGKILL lands
// while the files are put in place. Then each file of n is the earlier or
// the new one, the journal is left, and the next run, of any name, finishes
// the new output. A run stopped by SIGTERM leaves nothing of its own: it
// removes its files, or finishes putting them in place first.
TEST_P(KilledWhileWriting, LeavesTheEarlierOrTheNewOutputWholeOrForTheNextRunToFinish)
{
    const KillCase& c = GetParam();
    sprites(c.sprites, c.minSide, c.maxSide, 17);
    const Files after = reference(c.after);
    ASSERT_TRUE(Ran(run(c.before)));
    const Files earlier = only(allOutput(), "n");
    ASSERT_NE(earlier, after);

    std::mt19937 rng(2024);
    for (int k = 0; k < c.kills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        const ino_t firstInode = inodeOfN();
        ASSERT_NE(firstInode, 0u);
        Child child(work_.path(), c.after);
        ASSERT_GT(child.pid(), 0);
        if (c.whileInPlace) {
            killWhenNIsReplaced(child, firstInode, c.signal);
        } else {
            const int want = std::uniform_int_distribution<int>(0, static_cast<int>(after.size()))(rng);
            while (!child.finished() && runFiles() < want)
                QThread::usleep(200);
            child.kill(c.signal);
        }
        if (c.signal == SIGTERM) {
            EXPECT_TRUE(child.exitCode() == -SIGTERM || child.exitCode() == Ok) << child.exitCode();
            EXPECT_EQ(leftovers(), QStringList{});
        }

        const bool committing = journalLeft();
        const Files visible = only(allOutput(), "n");
        if (committing)
            for (const auto& file : visible)
                EXPECT_TRUE(std::ranges::count(earlier, file) + std::ranges::count(after, file) > 0)
                    << file.first.toStdString() << " is neither old nor new";
        else
            EXPECT_TRUE(visible == earlier || visible == after) << "a mix of two runs";

        // The next successful run in the folder, of another name, tidies up
        // and finishes a commit under way.
        ASSERT_TRUE(Ran(run(kProbe))) << "probe";
        EXPECT_EQ(leftovers(), QStringList{});
        EXPECT_EQ(only(allOutput(), "n"), committing ? after : visible);
        ASSERT_TRUE(Ran(run(c.before)));
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, KilledWhileWriting,
    ::testing::Values(
        // Two sheets of noise: the kill lands while rows are written.
        KillCase{"noisySheets", 40, 30, 100, sized("n", 512), sized("n", 384, 1, 1), false, 6},
        // Many tiny sheets: putting hundreds of files in place takes long
        // enough to be caught in the middle.
        KillCase{"manySheetsFirstInPlace", 160, 4, 4, sized("n", 4), sized("n", 12, 1, 1), true, 4},
        // One image a sheet, written by several threads: new files are
        // created all the time, also while the stopped run removes its own.
        KillCase{"sigtermWhileManySheets", 120, 4, 4, sized("n", 8), sized("n", 4), false, 8, SIGTERM},
        KillCase{"sigtermFirstInPlace", 160, 4, 4, sized("n", 4), sized("n", 12, 1, 1), true, 2, SIGTERM}),
    ByLabel);

// The job's window reads the progress lines through a pipe; when it goes
// away, the run finishes and leaves no folder of its own.
TEST_F(OutputFaults, AReaderOfTheProgressLinesThatGoesAwayLeavesNoRunFolder)
{
    sprites(6, 10, 20, 3);
    env_.insert("VINTRIX_PROGRESS", "lines");
    EXPECT_TRUE(Ran(run(sized("n", 64), [] {
        int gone[2];
        if (::pipe(gone) == 0 && ::dup2(gone[1], 2) == 2)
            ::close(gone[0]);
    })));
    EXPECT_EQ(leftovers(), QStringList{});
}

// ---- runs that overlap -----------------------------------------------------

struct OverlapCase {
    const char* label;
    std::vector<Job> jobs;  // released together
    int rounds;
    bool colliding = false;  // one name's second sheet is the other's first: one of the two is refused
};

class Overlapping : public OutputFaults, public ::testing::WithParamInterface<OverlapCase> {};

// Whatever order the runs take, each one is done or superseded by a run of
// its name that started after it (or refused whole, where names collide),
// and each name's files are the whole output of one of its runs that is
// done: the same bytes as that run makes alone.
TEST_P(Overlapping, RunsLeaveEachNameTheWholeOutputOfOneRun)
{
    const OverlapCase& c = GetParam();
    sprites(14, 6, 24, 21);
    std::vector<Files> alone;
    std::set<QString> names;
    for (const Job& job : c.jobs) {
        alone.push_back(reference(job));
        names.insert(job[2]);
    }

    for (int round = 0; round < c.rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (c.colliding)  // else the name that won the last round owns the disputed file
            ASSERT_TRUE(QDir(path("Output")).removeRecursively());
        std::vector<std::unique_ptr<Child>> runs;  // every one started before any has ended
        for (const Job& job : c.jobs)
            runs.push_back(std::make_unique<Child>(work_.path(), job));
        for (auto& child : runs)
            child->wait();
        const Files left = allOutput();
        std::set<QString> kept, refused;  // kept: the names whose files are the output of a run of theirs that is done
        Files whole;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const QString& name = c.jobs[i][2];
            const int code = runs[i]->exitCode();
            if (c.colliding && code == OutputFailed && runs[i]->err().contains("belongs to the output named")) {
                refused.insert(name);
                continue;
            }
            EXPECT_TRUE(code == Ok || code == Superseded) << code;
            EXPECT_EQ(runs[i]->err().remove(QRegularExpression("^" + kWaitingLine)),
                code == Superseded ? kSupersededLine.arg(name) : QString());
            if (code == Ok && only(left, name) == alone[i] && kept.insert(name).second)
                whole.insert(alone[i].begin(), alone[i].end());
        }
        EXPECT_EQ(refused.size(), c.colliding ? 1u : 0u);
        kept.merge(refused);
        EXPECT_EQ(kept, names);
        EXPECT_EQ(output(), whole);
        EXPECT_EQ(leftovers(), QStringList{});
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, Overlapping,
    ::testing::Values(
        OverlapCase{"sixOfOneName",
            {sized("n", 24), sized("n", 26), sized("n", 28), sized("n", 30), sized("n", 32), sized("n", 36)}, 5},
        OverlapCase{"twoEachOfFourNames",
            {sized("a", 24), sized("a", 40), sized("b", 28), sized("b", 48), sized("c", 32), sized("c", 96),
                sized("d", 24), sized("d", 96)},
            4},
        OverlapCase{"collidingNames", {sized("level", 40), sized("level-2", 64)}, 6, true}),
    ByLabel);

// Where the first run is held while the second one runs: waiting for the
// folder's lock before it makes its own folder, or writing its sheets, once
// it has checked what it may write.
enum class Hold { BeforeItsFolder, WritingSheets };

struct OvertakeCase {
    const char* label;
    Hold hold;
    const char* secondName;  // the first is "n"
    bool inOrder;            // the second run is held in turn until the first has ended
    int firstExit;           // Superseded: the second's output alone stays
};

class Overtaking : public OutputFaults, public ::testing::WithParamInterface<OvertakeCase> {};

// Runs of a name take their place in line when they start: the run that
// started last keeps its output, whichever ends first, and one overtaken
// ends superseded with none of its files left. Other names are no part of
// the line.
TEST_P(Overtaking, TheRunOfANameThatStartedLastKeepsItsOutput)
{
    const OvertakeCase& c = GetParam();
    sprites(40, 30, 100, 12);
    const Job firstJob = sized("n", 512), secondJob = sized(c.secondName, 384, 1, 1);
    Files want = reference(secondJob);
    if (c.secondName != QString("n"))
        want.merge(reference(firstJob));

    QFile lock(path("Output/.vintrix.lock"));
    std::unique_ptr<Child> first;
    for (int attempt = 0; attempt < 20 && !first; ++attempt) {
        ASSERT_TRUE(QDir(path("Output")).removeRecursively() && work_.mkpath("Output"));
        if (c.hold == Hold::BeforeItsFolder)
            ASSERT_TRUE(TakeLock(lock, LOCK_EX));
        auto child = std::make_unique<Child>(work_.path(), firstJob);
        if (c.hold == Hold::BeforeItsFolder)
            ASSERT_EQ(child->firstLine(), kWaitingLine);
        else
            while (!child->finished() && runFiles() < 1)
                QThread::usleep(200);
        // Stopped while it put its files in place, it holds the lock: again.
        if (child->stop() && (c.hold == Hold::BeforeItsFolder || TakeLock(lock, LOCK_EX | LOCK_NB)))
            first = std::move(child);
        lock.close();
    }
    ASSERT_TRUE(first) << "the first run was never stopped while it wrote its sheets";

    // The second starts while the first is stopped, and then waits for the lock.
    ASSERT_TRUE(TakeLock(lock, LOCK_EX));
    Child second(work_.path(), secondJob);
    ASSERT_EQ(second.firstLine(), kWaitingLine);
    EXPECT_FALSE(second.finished());
    EXPECT_EQ(output(), Files{});  // it writes only once it has the lock
    if (c.inOrder)
        ASSERT_TRUE(second.stop());
    lock.close();
    if (!c.inOrder)
        second.wait();
    first->resume();
    first->wait();
    second.resume();
    second.wait();

    EXPECT_EQ(second.exitCode(), Ok);
    EXPECT_EQ(second.err(), kWaitingLine);
    EXPECT_EQ(first->exitCode(), c.firstExit);
    EXPECT_EQ(first->err(),
        (c.hold == Hold::BeforeItsFolder ? kWaitingLine : QString()) +
            (c.firstExit == Superseded ? kSupersededLine.arg("n") : QString()));
    EXPECT_EQ(output(), want);
    EXPECT_EQ(leftovers(), QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Moments, Overtaking,
    ::testing::Values(OvertakeCase{"beforeItsFolder", Hold::BeforeItsFolder, "n", false, Superseded},
        OvertakeCase{"writingSheets", Hold::WritingSheets, "n", false, Superseded},
        OvertakeCase{"inOrder", Hold::WritingSheets, "n", true, Ok},
        OvertakeCase{"anotherName", Hold::WritingSheets, "m", false, Ok}),
    ByLabel);

// An Output written before runs had tickets keeps its record of which name
// wrote which files: a run still removes the files its name wrote last time.
// A file recorded for another name is free once it is gone.
TEST_F(OutputFaults, ARecordWithoutTicketsIsStillRead)
{
    sprites(2, 8, 8, 1);
    const Files want = reference(sized("n", 32));
    ASSERT_TRUE(work_.mkpath("Output"));
    writeBytes("Output/n-2.png", "an earlier sheet");
    writeBytes("Output/.vintrix-sets", QByteArray("vintrix-sets-1\0Sn\0Fn-2.png\0Sm\0Fn.png\0", 37));
    EXPECT_TRUE(Ran(run(sized("n", 32))));
    EXPECT_EQ(output(), want);
}

// A killed run's half-done commit belongs to nobody once its lock is free,
// even when another process has its number. The run that comes next
// finishes it before it commits, so it is never carried out over newer
// output later.
TEST_F(OutputFaults, AKilledRunsCommitIsFinishedBeforeNewerOutputWhateverProcessHasItsNumber)
{
    sprites(100, 4, 4, 17);
    const Job before = sized("n", 4), killed = sized("n", 12, 1, 1), newer = sized("n", 8);
    const Files want = reference(newer);
    bool caught = false;
    pid_t killedPid = 0;
    for (int attempt = 0; attempt < 20 && !caught; ++attempt) {
        ASSERT_TRUE(QDir(path("Output")).removeRecursively());
        ASSERT_TRUE(Ran(run(before)));
        Child child(work_.path(), killed);
        killedPid = child.pid();
        killWhenNIsReplaced(child, inodeOfN());
        caught = journalLeft();
    }
    if (!caught)
        GTEST_SKIP() << "no kill landed in the middle of the renames";

    // A process of the killed run's number, alive while the next run commits.
    pid_t holder = -1;
    const auto end = [&holder] {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
    };
    // Any process or thread started between choosing and forking takes the
    // number instead: on a busy machine that takes many tries.
    for (int attempt = 0; attempt < 1000 && holder != killedPid; ++attempt) {
        if (holder > 0)
            end();
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
        end();
        GTEST_SKIP() << "another process took the number";
    }
    EXPECT_TRUE(Ran(run(newer)));
    end();
    EXPECT_TRUE(Ran(run(kProbe)));
    EXPECT_EQ(only(allOutput(), "n"), want);
    EXPECT_EQ(leftovers(), QStringList{});
}

// ---- runs refused before they write -----------------------------------------

bool link(const QDir& work, const char* target, const char* at = "Output")
{
    return ::symlink(target, QFile::encodeName(work.filePath(at)).constData()) == 0;
}

QString atOutput(const QString& why)
{
    return "error: cannot use Output as the output folder: " + why + "\n";
}

QString packsItsOwnSheets(const QString& how)
{
    return "error: the images folder " + how +
        ": the sheets would replace images and later runs would pack the sheets; choose another images folder, or "
        "another output folder with -o\n";
}

struct RefusalCase {
    const char* label;
    Job first;                        // a run that succeeds first, if any
    bool (*plant)(const QDir& work);  // false: cannot be planted here
    Job job;                          // "WORK" stands for the test's folder, here and in `message`
    int exit;
    QString message;
    Job then{};  // a run that still succeeds afterwards, and leaves the first run's files alone
};

class Refused : public OutputFaults, public ::testing::WithParamInterface<RefusalCase> {};

// Output that is not a folder of the user's own, an images folder that is
// the output folder (a run would replace sprites with sheets of the same
// name, and the next run would pack its own sheets), a sprite that links to
// a sheet the run would replace, a folder where an output file goes, a file
// another name wrote: the run is refused, saying why, and nothing in the
// test's folder changes, nor anything written through a link.
TEST_P(Refused, SayingWhyAndNothingChanges)
{
    const RefusalCase& c = GetParam();
    sprites(6, 20, 20, 4);  // 32²: one sprite a sheet; 64²: four
    ASSERT_TRUE(work_.mkpath("elsewhere"));
    if (!c.first.isEmpty())
        ASSERT_TRUE(Ran(run(c.first)));
    if (c.plant && !c.plant(work_))
        GTEST_SKIP() << "cannot plant this here (needs root)";
    const QString work = QFileInfo(work_.path()).canonicalFilePath();
    const Files before = everything(), earlier = output();
    const RunResult r = run(QStringList(c.job).replaceInStrings("WORK", work));
    EXPECT_EQ(r.exitCode, c.exit);
    EXPECT_EQ(r.err, QString(c.message).replace("WORK", work));
    EXPECT_EQ(everything(), before);
    if (c.then.isEmpty())
        return;
    EXPECT_TRUE(Ran(run(c.then)));
    EXPECT_TRUE(std::ranges::includes(output(), earlier));
}

INSTANTIATE_TEST_SUITE_P(Setups, Refused,
    ::testing::Values(RefusalCase{"outputIsAFile", {},
                          [](const QDir& w) { return QFile(w.filePath("Output")).open(QIODevice::WriteOnly); },
                          sized("n", 32), OutputFailed, atOutput("it is a file, not a folder")},
        RefusalCase{"outputIsABrokenLink", {}, [](const QDir& w) { return link(w, "missing"); }, sized("n", 32),
            OutputFailed,
            atOutput("it is a symbolic link to \"missing\", which does not exist, and Vintrix writes only into a real "
                     "folder")},
        RefusalCase{"outputIsALinkToAFolder", {}, [](const QDir& w) { return link(w, "elsewhere"); }, sized("n", 32),
            OutputFailed,
            atOutput("it is a symbolic link to \"elsewhere\", and Vintrix writes only into a real folder")},
        RefusalCase{"outputIsANamedPipe", {},
            [](const QDir& w) { return ::mkfifo(QFile::encodeName(w.filePath("Output")).constData(), 0644) == 0; },
            sized("n", 32), OutputFailed, atOutput("it is a named pipe, not a folder")},
        RefusalCase{"outputIsAnotherUsersFolderInAFolderOthersCanWrite", {},
            [](const QDir& w) {
                const QByteArray out = QFile::encodeName(w.filePath("Output"));
                return ::chmod(QFile::encodeName(w.path()).constData(), 01777) == 0 &&
                    ::mkdir(out.constData(), 0777) == 0 && ::chown(out.constData(), 65534, 65534) == 0 &&
                    ::geteuid() != 65534;
            },
            sized("n", 32), OutputFailed,
            atOutput("it belongs to another user (uid 65534) and the folder it is in can be written by others")},
        RefusalCase{"imagesFolderGivenAsOutput", {}, nullptr,
            {"64", "64", "hero", "32", "1", "0", "sprites", "-o", "sprites"}, BadArguments,
            packsItsOwnSheets("\"sprites\" is the output folder sprites")},
        RefusalCase{"imagesFolderGivenAsOutputRecursive", {}, nullptr,
            {"64", "64", "hero", "32", "1", "0", "sprites/", "--recursive", "-o", "./sprites/"}, BadArguments,
            packsItsOwnSheets("\"sprites/\" is the output folder ./sprites")},
        RefusalCase{"outputChosenAsImagesFolderInTheWindow", {},
            [](const QDir& w) {
                return w.mkpath("Output") && FlatSprite(10, 10, Qt::red).save(w.filePath("Output/hero.png"));
            },
            {"64", "64", "hero", "32", "1", "0", "WORK/Output/"}, BadArguments,
            packsItsOwnSheets("\"WORK/Output/\" is the output folder Output")},
        RefusalCase{"aSpriteLinkedToTheRunsOwnSheet", sized("n", 32),
            [](const QDir& w) { return link(w, "../Output/n.png", "sprites/sheet.png"); }, sized("n", 32), BadArguments,
            "error: \"sheet.png\" is a link to \"WORK/Output/n.png\", a file of the output named \"n\" in the output "
            "folder Output: the run would replace it; copy the file or choose another name\n",
            sized("other", 64)},
        // "level" with two sheets would write level-2.png, the sheet of the
        // name "level-2"; with one sheet it stays beside it.
        RefusalCase{"secondSheetOnANameThatEndsInTwo", sized("level-2", 64), nullptr, sized("level", 40), OutputFailed,
            "error: cannot write the output named \"level\": Output/\"level-2.png\" belongs to the output named "
            "\"level-2\"; choose another name or remove that output\n",
            sized("level", 64)},
        RefusalCase{"aNameThatEndsInTwoOnASecondSheet", sized("level", 40), nullptr, sized("level-2", 64), OutputFailed,
            "error: cannot write the output named \"level-2\": Output/\"level-2.png\" belongs to the output named "
            "\"level\"; choose another name or remove that output\n"},
        // The new run writes one image a sheet; its data files go in last,
        // and the first of them last of all.
        RefusalCase{"aFolderInPlaceOfAnOutputFile", sized("n", 64),
            [](const QDir& w) { return w.mkpath("Output/n-3.json/inside"); }, sized("n", 40, 1, 1), OutputFailed,
            "error: cannot replace Output/n-3.json: it is a folder\n"}),
    ByLabel);

// ---- a disk that fills up --------------------------------------------------

// A file size limit, with SIGXFSZ left at its default action as a shell
// leaves it (the limit fails the write, not the run), and a tmpfs only just
// too small, at every point of the run: the sheets, the data files, the
// commit journal. Either the whole new output is there or a clear error and
// the whole earlier output.
TEST_F(OutputFaults, AFullDiskOrAFileSizeLimitFailsClearlyAndKeepsTheEarlierOutput)
{
    sprites(24, 30, 60, 5);
    const Job before = sized("n", 128), after = sized("n", 160, 0, 1);  // BMP: larger, and sizes known in advance
    const Files want = reference(after);
    ASSERT_TRUE(Ran(run(before)));
    const Files earlier = allOutput();
    const auto failedClearly = [&](const RunResult& r, const QString& start, const QString& cause) {
        EXPECT_EQ(r.exitCode, OutputFailed);
        EXPECT_TRUE(r.err.startsWith(start) && r.err.contains(cause) && r.err.count('\n') == 1) << r.err.toStdString();
        EXPECT_EQ(allOutput(), earlier);
    };
    for (rlim_t limit : {rlim_t{512}, rlim_t{64 * 1024}}) {
        const auto limited = [limit] {
            ::signal(SIGXFSZ, SIG_DFL);
            const rlimit size{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &size);
        };
        failedClearly(run(after, limited), "error: cannot write Output/", "File too large");
    }

    constexpr qint64 kPage = 4096;
    qint64 newBytes = 0, oldBytes = 0;
    for (const auto& [name, bytes] : want)
        newBytes += bytes.size();
    for (const auto& [name, bytes] : earlier)
        oldBytes += (bytes.size() + kPage - 1) / kPage * kPage;
    int failed = 0, succeeded = 0;
    for (qint64 room = 0; room <= newBytes + 64 * 1024; room += std::max<qint64>(kPage, newBytes / 24)) {
        SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
        if (mounted_)
            ASSERT_EQ(::umount2(QFile::encodeName(path("Output")).constData(), MNT_DETACH), 0);
        const QByteArray size = "size=" + QByteArray::number(oldBytes + room + kPage);
        mounted_ = work_.mkpath("Output") &&
            ::mount("tmpfs", QFile::encodeName(path("Output")).constData(), "tmpfs", 0, size.constData()) == 0;
        if (!mounted_)
            GTEST_SKIP() << "cannot mount a tmpfs here (needs CAP_SYS_ADMIN)";
        for (const auto& [name, bytes] : earlier)
            writeBytes("Output/" + name, bytes);
        const RunResult r = run(after);
        if (r.exitCode == Ok) {
            ++succeeded;
            EXPECT_EQ(output(), want);
        } else {
            ++failed;
            failedClearly(r, "error: cannot ", "No space left on device");
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(succeeded, 0);
}

}  // namespace
