#include "RunPackJob.h"

#include "FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

namespace vintrix {

QString PackerSearchPath()
{
    QStringList path{QDir::currentPath(), QCoreApplication::applicationDirPath()};
    const QString inherited = qEnvironmentVariable("PATH");
    if (!inherited.isEmpty()) {
        path << inherited;
    }
    return path.join(u':');
}

namespace {

// The current folder for messages; it has no path once it is deleted.
QString CurrentFolderName()
{
    const QString path = QDir::currentPath();
    return path.isEmpty() ? QStringLiteral("the current folder") : path;
}

std::optional<LaunchFailure> WriteScript(const std::u16string& line)
{
    QFile script(QString::fromLatin1(kScriptName));
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return LaunchFailure{QStringLiteral("Cannot write %1 in %2: %3")
                                 .arg(script.fileName(), CurrentFolderName(), script.errorString())};
    }
    const QByteArray text = QByteArray::fromStdString(EncodeText(line)) + '\n';
    if (script.write(text) != text.size() || !script.flush()) {
        const QString reason = script.errorString();
        script.close();
        QFile::remove(script.fileName());
        return LaunchFailure{
            QStringLiteral("Cannot write %1 in %2: %3").arg(script.fileName(), CurrentFolderName(), reason)};
    }
    return std::nullopt;
}

// The shell reads the script from its standard input, which is opened before
// startDetached() returns: from then on the script's name may go.
std::optional<LaunchFailure> StartScript()
{
    QProcess shell;
    shell.setProgram(QStringLiteral("/bin/sh"));
    shell.setStandardInputFile(QString::fromLatin1(kScriptName));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), PackerSearchPath());
    shell.setProcessEnvironment(environment);
    if (!shell.startDetached()) {
        return LaunchFailure{QStringLiteral("Cannot start /bin/sh on %1: %2")
                                 .arg(QString::fromLatin1(kScriptName), shell.errorString())};
    }
    return std::nullopt;
}

}  // namespace

std::optional<LaunchFailure> RunPackJob(const std::u16string& line, const ShowNotice& showNotice)
{
    if (auto failure = WriteScript(line)) {
        return failure;
    }
    if (auto failure = StartScript()) {
        return failure;
    }
    showNotice(QString::fromLatin1(kNoticeText));
    QFile script(QString::fromLatin1(kScriptName));
    if (!script.remove()) {
        return LaunchFailure{
            QStringLiteral("Cannot delete %1: %2").arg(script.fileName(), script.errorString())};
    }
    return std::nullopt;
}

}  // namespace vintrix
