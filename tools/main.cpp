// lesson-pack: turns a folder of web content into a self-extracting lesson bundle.
#include "tools/LessonPacker.h"
#include "tools/LessonTemplate.h"
#include "tools/Progress.h"
#include "tools/SingleFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>

namespace
{

const char kDescription[] =
    "Packs a lesson: writes <output folder>/<lesson name>.app, a copy of Unspool.app that\n"
    "carries Wayfarer.app and the content folder (as \"pagewright_files\") in its archive.\n"
    "The content folder must hold the start page index.html. Symbolic links (unless\n"
    "--dereference is given), special files, unreadable files and names Unspool would\n"
    "not take as they stand (line breaks and other control characters, backslashes,\n"
    "names that are not UTF-8) are refused; desktop litter is left out unless --keep-all\n"
    "is given; empty folders are not packed. The last line on standard output is the\n"
    "file to send to learners: <lesson name>.run with --single-file, else the bundle.";

struct Options {
    QCommandLineOption installer{QStringLiteral("installer"),
                                 QStringLiteral("Plug-in installer package to put into "
                                                "Wayfarer.app as \"Corvane Glimmer Player.pkg\"."),
                                 QStringLiteral("pkg")};
    QCommandLineOption replace{QStringLiteral("replace"),
                               QStringLiteral("Replace an existing <lesson name>.app.")};
    QCommandLineOption singleFile{
        QStringLiteral("single-file"),
        QStringLiteral("Also write <lesson name>.run, the one file to hand to learners: a "
                       "program they open with a double-click once it may be executed.")};
    QCommandLineOption dereference{
        {QStringLiteral("L"), QStringLiteral("dereference")},
        QStringLiteral("Pack what each symbolic link in the content folder points to, "
                       "under the link's name, instead of refusing links.")};
    QCommandLineOption icon{QStringLiteral("icon"),
                            QStringLiteral("Picture (PNG) to show as the lesson's icon."),
                            QStringLiteral("png")};
    QCommandLineOption keepAll{QStringLiteral("keep-all"),
                               QStringLiteral("Pack desktop litter too (.DS_Store, Icon\\r, "
                                              "__MACOSX, ._*, .git, .svn, *~).")};
    QCommandLineOption unspool{
        QStringLiteral("unspool"),
        QStringLiteral("The built Unspool bundle (default: %1).").arg(defaultBundle("Unspool.app")),
        QStringLiteral("Unspool.app"), defaultBundle("Unspool.app")};
    QCommandLineOption wayfarer{QStringLiteral("wayfarer"),
                                QStringLiteral("The built Wayfarer bundle (default: %1).")
                                    .arg(defaultBundle("Wayfarer.app")),
                                QStringLiteral("Wayfarer.app"), defaultBundle("Wayfarer.app")};

    static QString defaultBundle(const char *name)
    {
        return QDir(lessonpack::defaultBundleFolder()).filePath(QLatin1String(name));
    }
};

volatile std::sig_atomic_t sStopSignal = 0;

void noteStop(int signal)
{
    sStopSignal = signal;
}

// An interrupted run stops at its next piece of work and unwinds, which removes
// its staging folder; only then does the signal end the program.
void stopOnSignals()
{
    struct sigaction action {
    };
    action.sa_handler = noteStop;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM})
        ::sigaction(signal, &action, nullptr);
}

// What an author sends with the single file: how a learner opens it on a desktop.
void printLearnerSteps(const QString &single)
{
    const QByteArray name = QFileInfo(single).fileName().toLocal8Bit();
    std::fprintf(stderr,
                 "lesson-pack: send %s to learners, with these three steps:\n"
                 "  1. Save \"%s\".\n"
                 "  2. Right-click it, Properties, Permissions: allow executing it as a program.\n"
                 "  3. Double-click it (or, in a terminal in its folder: ./\"%s\").\n",
                 name.constData(), name.constData(), name.constData());
}

int fail(const QString &message)
{
    std::fprintf(stderr, "lesson-pack: %s\n", message.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lesson-pack"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LESSON_PACK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const Options options;
    parser.addOptions({options.installer, options.replace, options.keepAll, options.dereference,
                       options.singleFile, options.icon, options.unspool, options.wayfarer});
    parser.addPositionalArgument(QStringLiteral("content"),
                                 QStringLiteral("Folder of web content with index.html."));
    parser.addPositionalArgument(QStringLiteral("name"),
                                 QStringLiteral("Lesson name, shown to the learner."));
    parser.addPositionalArgument(QStringLiteral("output"),
                                 QStringLiteral("Folder to write <name>.app into."));

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText() + QStringLiteral(" (see --help)"));
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 3)
        return fail(QStringLiteral("expected a content folder, a lesson name and an output "
                                   "folder (see --help)"));

    lessonpack::PackRequest request;
    request.contentFolder = arguments[0];
    request.lessonName = arguments[1];
    request.outputFolder = arguments[2];
    request.installer = parser.value(options.installer);
    request.unspoolBundle = parser.value(options.unspool);
    request.wayfarerBundle = parser.value(options.wayfarer);
    request.replace = parser.isSet(options.replace);
    request.keepAll = parser.isSet(options.keepAll);
    request.dereference = parser.isSet(options.dereference);
    request.skipped = [](const QString &path) {
        std::fprintf(stderr, "lesson-pack: skipping %s (desktop litter; --keep-all packs it)\n",
                     path.toUtf8().constData());
    };
    request.stop = &sStopSignal;
    stopOnSignals();

    const bool singleFile = parser.isSet(options.singleFile);
    const QString bundlePath = QDir(request.outputFolder).filePath(request.lessonName + ".app");
    const QString runPath = lessonpack::singleFilePath(bundlePath);
    if (singleFile && !request.replace && QFileInfo::exists(runPath))
        return fail(QStringLiteral("%1 already exists (use --replace)").arg(runPath));
    const bool bundleExisted = QFileInfo::exists(bundlePath);

    QString why;
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return fail(
            QStringLiteral("cannot make a temporary folder: %1").arg(scratch.errorString()));
    // What the packer starts (the compiler that rebuilds a bundle's ICU data among them)
    // keeps its scratch files in this private folder too, never beside others' in a
    // shared TMPDIR.
    const QString childScratch = QDir(scratch.path()).filePath(QStringLiteral("tmp"));
    if (!QDir().mkdir(childScratch))
        return fail(QStringLiteral("cannot make the folder %1").arg(childScratch));
    qputenv("TMPDIR", QFile::encodeName(childScratch));
    // The runtime a single file carries is the self-contained Unspool before the
    // lesson's icon is put into it, so that lessons share it.
    const QString starter = lessonpack::starterBeside(request.unspoolBundle);
    if (!lessonpack::prepareTemplates(request, {QString(), singleFile}, scratch.path(), why))
        return fail(why);
    const QString runtime = request.unspoolBundle;
    if (!lessonpack::prepareTemplates(request, {parser.value(options.icon), false}, scratch.path(),
                                      why))
        return fail(why);

    lessonpack::Progress progress = lessonpack::Progress::forStandardError();
    QString written;
    if (!lessonpack::packLesson(request, progress, written, why)) {
        progress.abandon();
        const int status = fail(why);
        if (const int signal = sStopSignal) {
            std::signal(signal, SIG_DFL);
            std::raise(signal);
        }
        return status;
    }
    if (singleFile &&
        !lessonpack::writeSingleFile({written, runtime, starter, request.replace}, progress, why)) {
        progress.abandon();
        // A failed run leaves nothing behind that it made.
        if (!bundleExisted)
            QDir(written).removeRecursively();
        return fail(why);
    }
    progress.finish(QStringLiteral("lesson-pack: packed %1").arg(written));
    if (singleFile)
        printLearnerSteps(runPath);
    // Last, so that a script takes the file to send from the end of the output.
    std::printf("%s\n", QFile::encodeName(singleFile ? runPath : written).constData());
    return 0;
}
