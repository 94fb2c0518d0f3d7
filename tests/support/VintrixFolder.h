// A GoogleTest fixture: a temporary folder with an empty sprites/ in it,
// where the test runs the real Vintrix and reads what it wrote.
#pragma once

#include "VintrixRun.h"

#include <ostream>

#include <QTemporaryDir>

#include <gtest/gtest.h>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QSize& s, std::ostream* os)
{
    *os << s.width() << "x" << s.height();
}

namespace vintrix::test {

// Names the cases of a table by their `label`, in its tests' names and in
// messages, where they are of this namespace.
inline constexpr auto ByLabel = [](const auto& info) { return std::string(info.param.label); };
template <class Case>
requires std::is_same_v<decltype(Case::label), const char*>
void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.label;
}

// ASSERT_TRUE(Ran(run(...))): the run ended with status 0, else what it said.
inline ::testing::AssertionResult Ran(const RunResult& r)
{
    if (r.exitCode == Ok)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit status " << r.exitCode << ": " << r.err.toStdString();
}

class VintrixFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp_.isValid());
        work_ = QDir(tmp_.path());
        ASSERT_TRUE(work_.mkpath("sprites"));
        env_.remove("VINTRIX_PROGRESS");
    }

    QString path(const QString& rel) const { return work_.filePath(rel); }
    QString sprites() const { return path("sprites") + "/"; }

    RunResult run(const QStringList& args, std::function<void()> setup = {})
    {
        return RunVintrix(work_.path(), args, env_, std::move(setup));
    }
    RunResult pack(int w, int h, const QString& name, int bpp, int format, int margin, QString folder = {},
        const QStringList& options = {})
    {
        return run(QStringList{QString::number(w), QString::number(h), name, QString::number(bpp),
                       QString::number(format), QString::number(margin), folder.isEmpty() ? sprites() : folder} +
            options);
    }
    // Runs again into an emptied Output what `rerun` ran: the same input gives the same bytes.
    void expectSameBytesAgain(const std::function<RunResult()>& rerun)
    {
        const Files first = output();
        ASSERT_TRUE(QDir(path("Output")).removeRecursively());
        ASSERT_TRUE(Ran(rerun()));
        EXPECT_EQ(output(), first);
    }

    void save(const QImage& img, const QString& file, const char* format = nullptr, QString dir = {})
    {
        ASSERT_TRUE(img.save((dir.isEmpty() ? path("sprites") : dir) + "/" + file, format)) << file.toStdString();
    }
    void writeBytes(const QString& rel, const QByteArray& bytes)
    {
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << rel.toStdString();
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QJsonObject json(const QString& rel) const
    {
        QFile f(path(rel));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << rel.toStdString();
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    // The files in Output but for Vintrix's bookkeeping.
    Files output() const { return FilesIn(path("Output")); }
    bool outputExists() const { return QFileInfo::exists(path("Output")); }

    QTemporaryDir tmp_;
    QDir work_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
};

}  // namespace vintrix::test
