#include "JobProcess.h"

#include <QProcessEnvironment>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace vintrix {

namespace {

constexpr qsizetype kReadChunk = 65536;

}  // namespace

JobProcess::JobProcess(QObject* parent) : QObject(parent)
{
    connect(&shell_, &QProcess::finished, this, &JobProcess::shellFinished);
    connect(&shell_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            startError_ = tr("Cannot start /bin/sh: %1").arg(shell_.errorString());
            shellOver_ = true;
            endIfOver();
        }
    });
}

JobProcess::~JobProcess() = default;

void JobProcess::start(const QString& scriptFile)
{
    for (Stream* stream : {&out_, &err_}) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            startError_ = tr("Cannot start the job: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        stream->fd.reset(fds[0]);
        stream->childFd.reset(fds[1]);
        ::fcntl(stream->fd.get(), F_SETFL, O_NONBLOCK);
        stream->notifier = new QSocketNotifier(stream->fd.get(), QSocketNotifier::Read, this);
        const Channel channel = stream == &err_ ? Channel::Error : Channel::Output;
        connect(
            stream->notifier, &QSocketNotifier::activated, this, [this, stream, channel] { read(*stream, channel); });
    }
    if (startError_.isEmpty()) {
        shell_.setProgram(QStringLiteral("/bin/sh"));
        shell_.setProcessChannelMode(QProcess::ForwardedChannels);
        if (scriptFile.isEmpty())
            shell_.setInputChannelMode(QProcess::ForwardedInputChannel);
        else
            shell_.setStandardInputFile(scriptFile);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kProgressVariable), QString::fromLatin1(kProgressLines));
        shell_.setProcessEnvironment(environment);
        // The job gets a process group of its own, so that stopping reaches
        // Vintrix and not only the shell. It ignores SIGPIPE, so that it runs
        // to its end even when the reader of its output is gone.
        const int outFd = out_.childFd.get();
        const int errFd = err_.childFd.get();
        // This runs between fork and exec: only calls safe there.
        shell_.setChildProcessModifier([outFd, errFd] {
            if (::dup2(outFd, STDOUT_FILENO) < 0 || ::dup2(errFd, STDERR_FILENO) < 0 || ::setpgid(0, 0) != 0 ||
                ::signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
                static constexpr char kMessage[] = "error: cannot set up the job's process\n";
                [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
                ::_exit(1);
            }
        });
        shell_.start();
        if (const qint64 pid = shell_.processId(); pid > 0)
            ::setpgid(static_cast<pid_t>(pid), static_cast<pid_t>(pid));
    } else {
        shellOver_ = true;
    }
    // Only the job holds the writing ends now: their end of file is its end.
    out_.childFd.reset();
    err_.childFd.reset();
    endIfOver();
}

void JobProcess::stop()
{
    if (const qint64 pid = shell_.processId(); pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGTERM);
}

void JobProcess::read(Stream& stream, Channel channel)
{
    char buffer[4096];
    for (qsizetype taken = 0; taken < kReadChunk;) {
        const ssize_t n = ::read(stream.fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            if (!stream.pending.isEmpty()) {
                takeLine(stream.pending, channel);
                stream.pending.clear();
            }
            stream.notifier->setEnabled(false);
            stream.notifier->deleteLater();
            stream.notifier = nullptr;
            stream.fd.reset();
            endIfOver();
            return;
        }
        taken += n;
        stream.pending.append(buffer, n);
        for (qsizetype end; (end = stream.pending.indexOf('\n')) >= 0;) {
            QByteArray line = stream.pending.left(end);
            stream.pending.remove(0, end + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            takeLine(line, channel);
        }
        if (stream.pending.size() > kReadChunk) {  // a line without end is shown in pieces
            takeLine(stream.pending, channel);
            stream.pending.clear();
        }
    }
}

void JobProcess::takeLine(const QByteArray& line, Channel channel)
{
    if (channel == Channel::Error) {
        if (const auto parsed = ParseProgressLine(line.toStdString())) {
            emit progress(*parsed);
            return;
        }
    }
    emit outputLine(QString::fromUtf8(line), channel);
}

void JobProcess::shellFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    shellEnd_ = ShellEnd{exitStatus == QProcess::CrashExit, exitCode};
    shellOver_ = true;
    endIfOver();
}

void JobProcess::endIfOver()
{
    if (!shellOver_ || out_.fd || err_.fd || ended_)
        return;
    ended_ = true;
    if (!startError_.isEmpty()) {
        emit ended(false, startError_);
        return;
    }
    const std::string path = shell_.processEnvironment().value(QStringLiteral("PATH")).toStdString();
    emit ended(Succeeded(shellEnd_), QString::fromStdString(EndSentence(shellEnd_, path)));
}

}  // namespace vintrix
