// Times lesson extraction as Unspool does it (its controller: a worker thread, a
// blocking hand-over to a running event loop for every entry, a shown progress
// bar) side by side with `unzip -q -o` and `bsdtar -xf`, and measures the cost of
// one hand-over on its own.
//   bench_extract WORK_FOLDER REPETITIONS WARMUPS SHAPE=ARCHIVE...
// Every run extracts into a new folder under WORK_FOLDER. On a disk, finished
// trees are moved aside and deleted only after all timed runs, since on some file
// systems extracting right after a large delete is much slower (freed inodes are
// skipped); first, untimed, they are written out and their pages dropped from
// the cache, so no run pays for the write-back of the one before it. On tmpfs
// they are deleted at once. Either way no run lands on memory the machine has
// never touched, which in a virtual machine costs the host's page faults,
// seconds that belong to no extractor.
#include "BenchServices.h"
#include "MainMenuViewController.h"
#include "QtMainThread.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QProgressBar>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <ftw.h>
#include <linux/magic.h>
#include <spawn.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

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
// launcher request that ends it.
double timeOurs(Bench &b, const QString &archive)
{
    bench::Bundle bundle;
    bundle.archive = archive;
    bundle.lessonName = b.nextName();
    bench::Opener opener;
    bench::Alerts alerts;
    platform::QtMainThread mainThread;
    QEventLoop loop;
    unspool::MainMenuViewController controller(
        {bundle, b.temporary, opener, alerts, mainThread, [&loop] { loop.quit(); }});
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
    b.putAside(bundle.lessonName);
    return seconds;
}

double timeTool(Bench &b, const QStringList &command)
{
    const QString name = b.nextName();
    const QString folder = b.lessonFolder(name);
    QDir().mkpath(folder);
    std::vector<QByteArray> bytes;
    for (const QString &part : command)
        bytes.push_back(QString(part).replace("%DEST%", folder).toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &part : bytes)
        argv.push_back(part.data());
    argv.push_back(nullptr);

    const Clock::time_point start = Clock::now();
    pid_t pid;
    int status = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(1);
    }
    const double seconds = secondsSince(start);
    b.putAside(name);
    return seconds;
}

// The blocking hand-over alone: what each entry costs Unspool for its bar.
double handOverMicroseconds(int count)
{
    QWidget window;
    QProgressBar bar(&window);
    window.show();
    platform::QtMainThread mainThread;
    QEventLoop loop;
    Clock::time_point start;
    std::thread worker([&] {
        start = Clock::now();
        for (int i = 1; i <= count; ++i)
            mainThread.runAndWait([&bar, i, count] { bar.setValue(i * 100 / count); });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return secondsSince(start) * 1e6 / count;
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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_extract WORK REPETITIONS WARMUPS SHAPE=ARCHIVE...\n");
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

    const QStringList tools{"ours", "unzip", "bsdtar"};
    std::printf("%-12s %-7s %9s %9s %9s\n", "lesson", "tool", "median s", "min s", "max s");
    for (int a = 4; a < argc; ++a) {
        const QString shape = QString::fromLocal8Bit(argv[a]).section('=', 0, 0);
        const QString archive = QString::fromLocal8Bit(argv[a]).section('=', 1);
        std::vector<double> times[3];
        for (int rep = -warmups; rep < repetitions; ++rep) {
            // Rotate the order so no tool always runs right after another's writes.
            for (int k = 0; k < 3; ++k) {
                const int t = (k + rep + warmups) % 3;
                const double s = t == 0 ? timeOurs(b, archive)
                                 : t == 1
                                     ? timeTool(b, {"unzip", "-q", "-o", archive, "-d", "%DEST%"})
                                     : timeTool(b, {"bsdtar", "-xf", archive, "-C", "%DEST%"});
                if (rep >= 0)
                    times[t].push_back(s);
            }
        }
        Stats stats[3];
        for (int t = 0; t < 3; ++t) {
            stats[t] = statsOf(times[t]);
            std::printf("%-12s %-7s %9.3f %9.3f %9.3f\n", qPrintable(shape), qPrintable(tools[t]),
                        stats[t].median, stats[t].min, stats[t].max);
        }
        std::printf("%-12s ours/unzip %.2f  ours/bsdtar %.2f\n", qPrintable(shape),
                    stats[0].median / stats[1].median, stats[0].median / stats[2].median);
        std::fflush(stdout);
    }
    std::printf("hand-over per entry: %.1f us (median of 5 x 5000)\n", [] {
        std::vector<double> v;
        for (int i = 0; i < 5; ++i)
            v.push_back(handOverMicroseconds(5000));
        return statsOf(v).median;
    }());
    removeTree(b.work + "/trash");
    removeTree(b.work + "/tmp");
    return 0;
}
