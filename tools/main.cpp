// lesson-pack: turns a folder of web content into a self-extracting lesson bundle.
#include "LessonPacker.h"
#include "Progress.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace
{

const char kDescription[] =
    "Packs a lesson: writes <output folder>/<lesson name>.app, a copy of Unspool.app that\n"
    "carries Wayfarer.app and the content folder (as \"pagewright_files\") in its archive.\n"
    "The content folder must hold the start page index.html. Symbolic links, special\n"
    "files, unreadable files and names Unspool would not take as they stand (line\n"
    "breaks and other control characters, backslashes, names that are not UTF-8) are\n"
    "refused; desktop litter is left out unless --keep-all is given; empty folders are\n"
    "not packed.";

struct Options {
    QCommandLineOption installer{QStringLiteral("installer"),
                                 QStringLiteral("Plug-in installer package to put into "
                                                "Wayfarer.app as \"Corvane Glimmer Player.pkg\"."),
                                 QStringLiteral("pkg")};
    QCommandLineOption replace{QStringLiteral("replace"),
                               QStringLiteral("Replace an existing <lesson name>.app.")};
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
        return QDir(QStringLiteral(LESSON_PACK_BUNDLE_DIR)).filePath(QLatin1String(name));
    }
};

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
    parser.addOptions(
        {options.installer, options.replace, options.keepAll, options.unspool, options.wayfarer});
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
    request.skipped = [](const QString &path) {
        std::fprintf(stderr, "lesson-pack: skipping %s (desktop litter; --keep-all packs it)\n",
                     path.toUtf8().constData());
    };

    lessonpack::Progress progress = lessonpack::Progress::forStandardError();
    QString written;
    QString why;
    if (!lessonpack::packLesson(request, progress, written, why)) {
        progress.abandon();
        return fail(why);
    }
    progress.finish(QStringLiteral("lesson-pack: packed %1").arg(written));
    std::printf("%s\n", written.toLocal8Bit().constData());
    return 0;
}
