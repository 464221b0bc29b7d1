// Times lesson extraction as Unspool does it (its controller: a worker thread, a
// blocking hand-over to a running event loop for every entry, a shown progress
// bar) side by side with the archive class alone (no delegate, so no hand-over),
// `unzip -q -o` and `bsdtar -xf`, and measures the cost of one hand-over on its own.
//   bench_extract WORK_FOLDER REPETITIONS WARMUPS TABLE_FILE SHAPE=ARCHIVE...
// Every extraction runs in a child process of its own, so its peak memory and
// processor time (getrusage of the child) are its own; ours and the archive class report their
// time from the thread's start to the end of the extraction, the two tools are
// timed from spawn to exit. The medians also go, as rows of a Markdown table, to
// TABLE_FILE, and the hand-over alone to TABLE_FILE.notes.
// Every run extracts into a new folder under WORK_FOLDER. On a disk, finished
// trees are moved aside and deleted only after all timed runs, since on some file
// systems extracting right after a large delete is much slower (freed inodes are
// skipped); first, untimed, they are written out and their pages dropped from
// the cache, so no run pays for the write-back of the one before it. On tmpfs
// they are deleted at once. Either way no run lands on memory the machine has
// never touched, which in a virtual machine costs the host's page faults,
// seconds that belong to no extractor.
#include "Unspool/LessonArchive.h"
#include "Unspool/MainMenuViewController.h"
#include "bench/BenchServices.h"
#include "platform/linux/QtMainThread.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProgressBar>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <linux/magic.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int removeItem(const char *path, const struct stat *, int, FTW *)
{
    return ::remove(path) == 0 ? 0 : 1;
}

int dropCachedPages(const char *path, const struct stat *, int type, FTW *)
{
    if (type == FTW_F) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
    return 0;
}

void removeTree(const QString &folder)
{
    ::nftw(QFile::encodeName(folder).constData(), removeItem, 16, FTW_DEPTH | FTW_PHYS);
}

struct Bench {
    QString work;
    int runs = 0;
    bench::Temporary temporary;

    QString nextName() { return QStringLiteral("run-%1").arg(++runs); }
    QString lessonFolder(const QString &name) const
    {
        return temporary.folder + "Brindle_Lessons/" + name;
    }
    bool onTmpfs = false;

    void putAside(const QString &name) const
    {
        if (onTmpfs) {
            removeTree(lessonFolder(name));
            return;
        }
        const QString aside = work + "/trash/" + name;
        QDir().rename(lessonFolder(name), aside);
        ::sync();
        ::nftw(QFile::encodeName(aside).constData(), dropCachedPages, 16, FTW_PHYS);
    }
};

// One extraction through Unspool's own controller, from the thread's start to the
// launcher request that ends it. In the child.
double timeOurs(const QString &archive, const QString &temporaryFolder, const QString &name)
{
    bench::Bundle bundle;
    bundle.archive = archive;
    bundle.lessonName = name;
    bench::Temporary temporary;
    temporary.folder = temporaryFolder;
    bench::Opener opener;
    bench::Alerts alerts;
    platform::QtMainThread mainThread;
    QEventLoop loop;
    unspool::MainMenuViewController controller(
        {bundle, temporary, opener, alerts, mainThread, [&loop] { loop.quit(); }});
    controller.window()->show();

    const Clock::time_point start = Clock::now();
    controller.applicationDidFinishLaunching();
    loop.exec();
    const double seconds = secondsSince(start);
    while (controller.extractionThreadRunning())
        std::this_thread::yield();
    if (!opener.asked || !alerts.shown.isEmpty()) {
        std::fprintf(stderr, "extraction failed: %s\n", qPrintable(alerts.shown));
        std::exit(1);
    }
    return seconds;
}

// The archive class alone on this thread: no delegate, so no hand-over. In the child.
double timeArchive(const QString &archive, const QString &temporaryFolder, const QString &name)
{
    const Clock::time_point start = Clock::now();
    LessonArchive lesson;
    if (!lesson.UnzipOpenFile(archive) ||
        !lesson.UnzipFileTo(temporaryFolder + "Brindle_Lessons/" + name, true)) {
        std::fprintf(stderr, "extraction failed\n");
        std::exit(1);
    }
    return secondsSince(start);
}

struct Run {
    double seconds;
    double peakMiB;
    double cpuSeconds; // user and system time of the child, all its threads
};

// Spawns `argv` and waits for it; its own figure of seconds, when it prints one,
// replaces the time from spawn to exit.
Run runChild(const std::vector<QByteArray> &command, bool reportsSeconds)
{
    std::vector<char *> argv;
    argv.reserve(command.size() + 1);
    for (const QByteArray &part : command)
        argv.push_back(const_cast<char *>(part.constData()));
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (reportsSeconds)
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);

    const Clock::time_point start = Clock::now();
    pid_t pid;
    int status = 0;
    struct rusage usage {
    };
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "%s could not start\n", argv[0]);
        std::exit(1);
    }
    ::close(out[1]);
    char text[64] = {};
    std::size_t got = 0;
    for (ssize_t n;
         got < sizeof text - 1 && (n = ::read(out[0], text + got, sizeof text - 1 - got)) > 0;)
        got += static_cast<std::size_t>(n);
    ::close(out[0]);
    posix_spawn_file_actions_destroy(&actions);
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(1);
    }
    const double seconds = reportsSeconds ? std::atof(text) : secondsSince(start);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    return {seconds, usage.ru_maxrss / 1024.0, cpu}; // ru_maxrss is in KiB
}

enum Tool { kOurs, kArchive, kUnzip, kBsdtar, kTools };
const char *const kToolNames[kTools] = {"ours", "archive", "unzip", "bsdtar"};

Run timeTool(Bench &b, Tool tool, const QString &archive, const QByteArray &self)
{
    const QString name = b.nextName();
    const QString folder = b.lessonFolder(name);
    QDir().mkpath(folder);
    const QByteArray zip = QFile::encodeName(archive);
    const QByteArray dest = QFile::encodeName(folder);
    Run run{};
    switch (tool) {
    case kOurs:
    case kArchive:
        run = runChild({self, "--child", kToolNames[tool], zip,
                        QFile::encodeName(b.temporary.folder), QFile::encodeName(name)},
                       true);
        break;
    case kUnzip:
        run = runChild({"unzip", "-q", "-o", zip, "-d", dest}, false);
        break;
    default:
        run = runChild({"bsdtar", "-xf", zip, "-C", dest}, false);
        break;
    }
    b.putAside(name);
    return run;
}

// The blocking hand-over alone, as the controller makes it for each entry of a
// lesson of `count` entries: what each entry costs Unspool for its bar.
double handOverMicroseconds(int count)
{
    QWidget window;
    QProgressBar bar(&window);
    window.show();
    platform::QtMainThread mainThread;
    QEventLoop loop;
    double us = 0;
    std::thread worker([&] {
        mainThread.beginHandOvers(0, count); // no work between: held
        const Clock::time_point start = Clock::now();
        for (int i = 1; i <= count; ++i) {
            const double percentage = static_cast<double>(i) / count * 100.0;
            mainThread.runAndWait([&bar, percentage] {
                if (qRound(percentage) != bar.value())
                    bar.setValue(qRound(percentage));
            });
        }
        us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        mainThread.endHandOvers();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return us / count;
}

struct Stats {
    double median, min, max;
};

Stats statsOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {median, v.front(), v.back()};
}

// The child's side of one run of ours or the archive class: prints its seconds.
int runInChild(char **argv)
{
    const QString tool = QString::fromLocal8Bit(argv[2]);
    const QString archive = QString::fromLocal8Bit(argv[3]);
    const QString temporary = QString::fromLocal8Bit(argv[4]);
    const QString name = QString::fromLocal8Bit(argv[5]);
    if (tool == QLatin1String("ours")) {
        // A process's first window loads fonts and style, a one-off that the timed
        // window would otherwise pay for; it is paid here, untimed.
        QWidget window;
        QProgressBar bar(&window);
        window.show();
        QCoreApplication::processEvents();
        window.grab();
    }
    const double seconds = tool == QLatin1String("ours") ? timeOurs(archive, temporary, name)
                                                         : timeArchive(archive, temporary, name);
    std::printf("%.6f\n", seconds);
    return 0;
}

int entriesOf(const QString &archive)
{
    LessonArchive lesson;
    return lesson.UnzipOpenFile(archive) ? lesson.getNumberOfEntries() : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 6 && std::strcmp(argv[1], "--child") == 0)
        return runInChild(argv);
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: bench_extract WORK REPETITIONS WARMUPS TABLE_FILE SHAPE=ARCHIVE...\n");
        return 2;
    }
    Bench b;
    b.work = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    b.temporary.folder = b.work + "/tmp/";
    QDir().mkpath(b.work + "/trash");
    struct statfs fs {
    };
    b.onTmpfs = ::statfs(argv[1], &fs) == 0 && fs.f_type == TMPFS_MAGIC;
    const int repetitions = std::atoi(argv[2]);
    const int warmups = std::atoi(argv[3]);
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    QFile table(QString::fromLocal8Bit(argv[4]));
    if (!table.open(QIODevice::Append | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write %s\n", argv[4]);
        return 1;
    }
    const QString place = b.onTmpfs ? QStringLiteral("tmpfs") : QStringLiteral("disk");

    std::printf("%-12s %-8s %9s %9s %9s %9s %9s\n", "lesson", "tool", "median s", "min s", "max s",
                "cpu s", "peak MiB");
    for (int a = 5; a < argc; ++a) {
        const QString shape = QString::fromLocal8Bit(argv[a]).section('=', 0, 0);
        const QString archive = QString::fromLocal8Bit(argv[a]).section('=', 1);
        std::vector<double> times[kTools], peaks[kTools], cpus[kTools];
        for (int rep = -warmups; rep < repetitions; ++rep) {
            // Rotate the order so no tool always runs right after another's writes.
            for (int k = 0; k < kTools; ++k) {
                const Tool t = static_cast<Tool>((k + rep + warmups) % kTools);
                const Run run = timeTool(b, t, archive, self);
                if (rep >= 0) {
                    times[t].push_back(run.seconds);
                    peaks[t].push_back(run.peakMiB);
                    cpus[t].push_back(run.cpuSeconds);
                }
            }
        }
        Stats stats[kTools];
        double peak[kTools], cpu[kTools];
        for (int t = 0; t < kTools; ++t) {
            stats[t] = statsOf(times[t]);
            peak[t] = statsOf(peaks[t]).max;
            cpu[t] = statsOf(cpus[t]).median;
            std::printf("%-12s %-8s %9.3f %9.3f %9.3f %9.3f %9.1f\n", qPrintable(shape),
                        kToolNames[t], stats[t].median, stats[t].min, stats[t].max, cpu[t],
                        peak[t]);
        }
        const int entries = entriesOf(archive);
        const double ours = stats[kOurs].median, alone = stats[kArchive].median;
        const double share = (ours - alone) / ours;
        const double perEntry = entries > 0 ? (ours - alone) * 1e6 / entries : 0;
        std::printf("%-12s ours/archive %.2f  ours/unzip %.2f  ours/bsdtar %.2f  hand-over and "
                    "loop: %.0f%% of ours, %.1f us per entry (%d entries)\n",
                    qPrintable(shape), ours / alone, ours / stats[kUnzip].median,
                    ours / stats[kBsdtar].median, share * 100, perEntry, entries);
        std::fflush(stdout);
        table.write(
            QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |")
                .arg(shape, place)
                .arg(QString::number(ours, 'f', 3), QString::number(alone, 'f', 3),
                     QString::number(stats[kUnzip].median, 'f', 3),
                     QString::number(stats[kBsdtar].median, 'f', 3),
                     QString::number(ours / alone, 'f', 2),
                     QString::number(ours / stats[kBsdtar].median, 'f', 2))
                .arg(QStringLiteral("%1% / %2 us")
                         .arg(QString::number(share * 100, 'f', 0),
                              QString::number(perEntry, 'f', 1)))
                .toUtf8() +
            QStringLiteral(" %1 / %2 / %3 / %4 | %5 / %6 / %7 / %8 |\n")
                .arg(QString::number(cpu[kOurs], 'f', 3), QString::number(cpu[kArchive], 'f', 3),
                     QString::number(cpu[kUnzip], 'f', 3), QString::number(cpu[kBsdtar], 'f', 3),
                     QString::number(peak[kOurs], 'f', 0), QString::number(peak[kArchive], 'f', 0),
                     QString::number(peak[kUnzip], 'f', 0), QString::number(peak[kBsdtar], 'f', 0))
                .toUtf8());
    }
    std::vector<double> v;
    v.reserve(5);
    for (int i = 0; i < 5; ++i)
        v.push_back(handOverMicroseconds(5000));
    const double handOver = statsOf(v).median;
    std::printf("hand-over per entry: %.1f us (median of 5 x 5000)\n", handOver);
    QFile notes(table.fileName() + QStringLiteral(".notes"));
    if (notes.open(QIODevice::Append | QIODevice::Text))
        notes.write(
            QStringLiteral("- Hand-over alone, %1: %2 us per entry (median of 5 x 5,000).\n")
                .arg(place, QString::number(handOver, 'f', 1))
                .toUtf8());
    removeTree(b.work + "/trash");
    removeTree(b.work + "/tmp");
    return 0;
}
