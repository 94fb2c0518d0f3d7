// The process of one packing job: /bin/sh running the job's script, in a
// process group of its own, with Vintrix asked for progress lines. What the
// job prints arrives line by line: progress lines on standard error as
// progress(), every other line as outputLine(). ended() comes once the shell
// has ended and every process that could still print has ended too (both
// pipes are at their end), with one sentence for how the job ended.
#pragma once

#include "JobOutcome.h"
#include "PackerContract.h"
#include "UniqueFd.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

class QSocketNotifier;

namespace vintrix {

class JobProcess : public QObject {
    Q_OBJECT

public:
    enum class Channel { Output, Error };

    explicit JobProcess(QObject* parent = nullptr);
    ~JobProcess() override;

    // The shell reads `scriptFile`, or this program's standard input when it
    // is empty. May end the job at once (ended()) when it cannot start.
    void start(const QString& scriptFile);
    // SIGTERM to every process of the job; ended() follows when they are gone.
    void stop();

signals:
    void outputLine(const QString& line, vintrix::JobProcess::Channel channel);
    void progress(const vintrix::ProgressLine& progress);
    // `sentence` says how the job ended: "Done." or why it failed.
    void ended(bool succeeded, const QString& sentence);

private:
    // One of the job's two output streams, read through a pipe of our own:
    // its end of file means every process that held it has ended.
    struct Stream {
        UniqueFd fd;
        UniqueFd childFd;
        QSocketNotifier* notifier = nullptr;
        QByteArray pending;
    };

    void read(Stream& stream, Channel channel);
    void takeLine(const QByteArray& line, Channel channel);
    void shellFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void endIfOver();

    QProcess shell_;
    Stream out_, err_;
    bool shellOver_ = false;
    bool ended_ = false;
    ShellEnd shellEnd_;
    QString startError_;
};

}  // namespace vintrix
