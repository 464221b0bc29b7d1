#pragma once

#include "ProcessRunner.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>

// A copy of the built Unspool bundle in a fresh folder, named as a lesson, with a
// temporary folder of its own; runs of it end with the test.
class LessonBundleTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        lessonBundle = root.path() + QStringLiteral("/Sample Lesson.app");
        const platform::ProcessResult copy = platform::runProcess(
            QStringLiteral("cp"),
            {QStringLiteral("-R"), QStringLiteral(UNSPOOL_BUNDLE), lessonBundle});
        ASSERT_EQ(copy.exitCode, 0);
        // Closed to others, so it is used as it is.
        ASSERT_TRUE(QDir().mkpath(temporary()));
        ASSERT_TRUE(QFile::setPermissions(temporary(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    QString temporary() const { return root.path() + QStringLiteral("/tmp"); }
    QString bundleProgram() const
    {
        return lessonBundle + QStringLiteral("/Contents/MacOS/Unspool");
    }

    // Starts `program` on the Qt platform `qpa` with our TMPDIR and `extra` settings.
    void start(const QString &qpa, const QString &program, const QStringList &arguments = {},
               const QList<std::pair<QString, QString>> &extra = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), qpa);
        environment.insert(QStringLiteral("TMPDIR"), temporary());
        for (const auto &[name, value] : extra)
            environment.insert(name, value);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments);
    }

    QTemporaryDir root;
    QString lessonBundle;
    QProcess process;
};
