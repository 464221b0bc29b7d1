#include "Holders.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

namespace quiesce_test
{

QString makePlugin(const QString &folder)
{
    const QString file =
        folder + u'/' + kPluginBelowFolder + QStringLiteral("/Contents/MacOS/Glimmer Player");
    return testfiles::write(file, "plug-in code") ? file : QString();
}

namespace
{

// "$1".."$n" redirected to descriptors 3.., then the handshake line and the sleep.
QString holderScript(qsizetype fileCount, Holder::Term term)
{
    QString script = term == Holder::Term::Ignored ? QStringLiteral("trap '' TERM; exec")
                                                   : QStringLiteral("exec");
    for (qsizetype i = 0; i < fileCount; ++i)
        script += QStringLiteral(" %1<\"$%2\"").arg(i + 3).arg(i + 1);
    return script + QStringLiteral("; echo holding; exec \"$0\" 600");
}

} // namespace

Holder::Holder(const QStringList &files, Term term, const QString &program)
{
    mProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mProcess.start(QStringLiteral("/bin/sh"),
                   QStringList{QStringLiteral("-c"), holderScript(files.size(), term), program} +
                       files);
    mPid = int(mProcess.processId());
    // The line comes after every file is open; the sleep that follows keeps them.
    while (mProcess.waitForReadyRead(kPatienceMs)) {
        if (mProcess.readAll().contains("holding")) {
            mHolding = true;
            break;
        }
    }
}

Holder::~Holder()
{
    if (mProcess.state() != QProcess::NotRunning) {
        mProcess.kill();
        mProcess.waitForFinished(kPatienceMs);
    }
}

bool Holder::endedBySignal()
{
    if (mProcess.state() != QProcess::NotRunning && !mProcess.waitForFinished(kPatienceMs))
        return false;
    // The shell's exec makes the sleeping program the child itself, so a signal
    // that ends it shows as a crash exit.
    return mProcess.exitStatus() == QProcess::CrashExit;
}

QString makeApplicationBundle(const QString &bundlePath, const QString &name,
                              const QString &iconFile, unsigned rgb)
{
    const QString executable =
        bundlePath + QStringLiteral("/Contents/MacOS/") + QFileInfo(bundlePath).completeBaseName();
    QString plist =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
                       "<key>CFBundleExecutable</key><string>%1</string>\n"
                       "<key>CFBundleName</key><string>%2</string>\n")
            .arg(QFileInfo(executable).fileName(), name);
    if (!iconFile.isEmpty())
        plist += QStringLiteral("<key>CFBundleIconFile</key><string>%1</string>\n").arg(iconFile);
    plist += QStringLiteral("</dict></plist>\n");
    if (!testfiles::write(bundlePath + QStringLiteral("/Contents/Info.plist"), plist.toUtf8()))
        return {};
    QDir().mkpath(QFileInfo(executable).absolutePath());
    if (!QFile::copy(QStringLiteral("/bin/sleep"), executable))
        return {};
    if (rgb == 0)
        return executable;
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor::fromRgb(rgb));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);
    }
    QString icnsName = iconFile.isEmpty() ? QStringLiteral("Icon") : iconFile;
    if (!icnsName.endsWith(QStringLiteral(".icns")))
        icnsName += QStringLiteral(".icns");
    const QString icns = bundlePath + QStringLiteral("/Contents/Resources/") + icnsName;
    QDir().mkpath(QFileInfo(icns).absolutePath());
    return image.save(icns, "icns") ? executable : QString();
}

} // namespace quiesce_test
