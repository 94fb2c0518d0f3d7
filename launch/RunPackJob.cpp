#include "RunPackJob.h"

#include "FileNames.h"
#include "UniqueFd.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vintrix {

QByteArray PackerSearchPath()
{
    QByteArray path(".");
    const QByteArray programFolder = QFile::encodeName(QCoreApplication::applicationDirPath());
    if (!programFolder.isEmpty() && !programFolder.contains(':'))
        path += ':' + programFolder;
    const QByteArray inherited = qgetenv("PATH");
    if (!inherited.isEmpty())
        path += ':' + inherited;
    return path;
}

namespace {

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The current folder for messages; it has no path once it is deleted.
QString CurrentFolderName()
{
    const QString path = QDir::currentPath();
    return path.isEmpty() ? QStringLiteral("the current folder") : path;
}

LaunchFailure CannotWrite(const QString& why)
{
    return LaunchFailure{
        QStringLiteral("Cannot write %1 in %2: %3").arg(QString::fromLatin1(kScriptName), CurrentFolderName(), why)};
}

// An earlier script of the user's own, or a link of any owner, is removed as
// a name; a file of another user is left alone, since writing into it would
// let its owner change the script before the shell reads it.
std::optional<LaunchFailure> RemoveEarlierScript()
{
    struct stat earlier {};
    if (::lstat(kScriptName, &earlier) != 0)
        return errno == ENOENT ? std::nullopt : std::optional(CannotWrite(ErrorText(errno)));
    if (!S_ISLNK(earlier.st_mode) && earlier.st_uid != ::geteuid()) {
        return CannotWrite(QStringLiteral("a file of that name belongs to another user; remove it or start "
                                          "Vintrix Studio in a folder of your own"));
    }
    if (::unlink(kScriptName) != 0)
        return CannotWrite(QStringLiteral("the file of that name cannot be replaced: %1").arg(ErrorText(errno)));
    return std::nullopt;
}

// Creates the script afresh and returns it open for reading from its start.
std::variant<UniqueFd, LaunchFailure> WriteScript(const std::u16string& line)
{
    if (auto failure = RemoveEarlierScript())
        return *failure;
    UniqueFd script(::open(kScriptName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!script)
        return CannotWrite(ErrorText(errno));
    const std::string text = EncodeText(line) + '\n';
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(script.get(), text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::unlink(kScriptName);
            return CannotWrite(ErrorText(error));
        }
        written += static_cast<std::size_t>(n);
    }
    if (::lseek(script.get(), 0, SEEK_SET) != 0) {
        const int error = errno;
        ::unlink(kScriptName);
        return CannotWrite(ErrorText(error));
    }
    return script;
}

// The environment of the job: this program's, with the packer's search path.
std::vector<QByteArray> JobEnvironment()
{
    std::vector<QByteArray> environment;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "PATH=", 5) != 0)
            environment.emplace_back(*entry);
    environment.push_back("PATH=" + PackerSearchPath());
    return environment;
}

// Starts `argv` in a session of its own, not a child of this process, with
// `input` as its standard input. The grandchild reports a failed exec through
// a pipe that closes on a successful one.
std::optional<LaunchFailure> StartDetached(const std::vector<QByteArray>& arguments, const UniqueFd& input)
{
    const QByteArray& program = arguments.front();
    const std::vector<QByteArray> environment = JobEnvironment();
    std::vector<char*> envp;
    for (const QByteArray& entry : environment)
        envp.push_back(const_cast<char*>(entry.constData()));
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return LaunchFailure{
            QStringLiteral("Cannot start %1: %2").arg(QString::fromLocal8Bit(program), ErrorText(errno))};
    }
    UniqueFd reader(report[0]);
    UniqueFd writer(report[1]);

    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        if (::fork() == 0) {
            ::setsid();
            if (::dup2(input.get(), STDIN_FILENO) >= 0)
                ::execve(argv[0], argv.data(), envp.data());
            const int error = errno;
            [[maybe_unused]] const ssize_t ignored = ::write(writer.get(), &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(0);
    }
    if (child < 0) {
        return LaunchFailure{
            QStringLiteral("Cannot start %1: %2").arg(QString::fromLocal8Bit(program), ErrorText(errno))};
    }
    writer = UniqueFd();
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
    int error = 0;
    ssize_t n;
    while ((n = ::read(reader.get(), &error, sizeof error)) < 0 && errno == EINTR) {}
    if (n > 0) {
        return LaunchFailure{
            QStringLiteral("Cannot start %1 on %2: %3")
                .arg(QString::fromLocal8Bit(program), QString::fromLatin1(kScriptName), ErrorText(error))};
    }
    return std::nullopt;
}

// Removes the script's name, unless it no longer names the file written
// here: then there is nothing of this job's left to remove.
std::optional<LaunchFailure> RemoveScript(const UniqueFd& script)
{
    struct stat written {};
    struct stat named {};
    if (::fstat(script.get(), &written) != 0 || ::lstat(kScriptName, &named) != 0 || written.st_dev != named.st_dev ||
        written.st_ino != named.st_ino)
        return std::nullopt;
    if (::unlink(kScriptName) != 0) {
        return LaunchFailure{
            QStringLiteral("Cannot delete %1: %2").arg(QString::fromLatin1(kScriptName), ErrorText(errno))};
    }
    return std::nullopt;
}

// The job's own window, which runs the shell and shows the job through to its
// end; without it, the shell alone, as a job without a window.
std::vector<QByteArray> JobProgram(const QString& jobName)
{
    const QString window = JobWindowProgram();
    if (::access(QFile::encodeName(window).constData(), X_OK) == 0)
        return {QFile::encodeName(window), jobName.toUtf8()};
    return {"/bin/sh"};
}

}  // namespace

QString JobWindowProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/vintrix-job");
}

std::optional<LaunchFailure> RunPackJob(
    const std::u16string& line, const ShowNotice& showNotice, const QString& jobName)
{
    auto written = WriteScript(line);
    if (auto* failure = std::get_if<LaunchFailure>(&written))
        return *failure;
    const UniqueFd script = std::get<UniqueFd>(std::move(written));
    if (auto failure = StartDetached(JobProgram(jobName), script))
        return failure;
    showNotice(QString::fromLatin1(kNoticeText));
    return RemoveScript(script);
}

}  // namespace vintrix
