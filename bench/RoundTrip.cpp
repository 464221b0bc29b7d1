// The machine's floor for a blocking hand-over between two threads, and what each
// layer of Unspool's hand-over adds to it:
//   bench_round_trip [ROUND_TRIPS]
// - bare: two threads pass a turn back and forth through two POSIX semaphores,
//   both on one processor, then on two different ones;
// - affinity: what pinning the calling thread to its processor and freeing it
//   again costs (two system calls);
// - Qt: a blocking queued call on a running event loop, as the hand-over was
//   built first, and the hand-over as Unspool now does it, each with the two
//   threads free and then held on one processor.
// - the bar: one whole-percent step of a shown progress bar, which repaints it
//   there and then.
// Each figure is the median of five runs, in microseconds.
#include "platform/linux/QtMainThread.h"

#include <QApplication>
#include <QEventLoop>
#include <QProgressBar>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sched.h>
#include <semaphore.h>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

bool pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(0, sizeof set, &set) == 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double medianOfFive(const std::function<double()> &run)
{
    std::vector<double> v;
    v.reserve(5);
    for (int i = 0; i < 5; ++i)
        v.push_back(run());
    return median(v);
}

// Two threads, one turn passed back and forth `count` times.
double bareRoundTrip(int count, int mainCpu, int otherCpu)
{
    sem_t there, back;
    ::sem_init(&there, 0, 0);
    ::sem_init(&back, 0, 0);
    pinTo(mainCpu);
    std::thread other([&] {
        pinTo(otherCpu);
        for (int i = 0; i < count; ++i) {
            ::sem_wait(&there);
            ::sem_post(&back);
        }
    });
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) {
        ::sem_post(&there);
        ::sem_wait(&back);
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    other.join();
    ::sem_destroy(&there);
    ::sem_destroy(&back);
    return us / count;
}

double affinityPair(int count, const cpu_set_t &free)
{
    const int cpu = ::sched_getcpu();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) {
        pinTo(cpu);
        ::sched_setaffinity(0, sizeof free, &free);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

enum class Placement {
    free,      // the scheduler places both threads
    inherited, // both held on the main thread's processor throughout
    bracketed, // as Unspool does it: beginHandOvers() .. endHandOvers()
};

// `handOver` run `count` times from a second thread against this thread's loop.
double loopRoundTrip(int count, Placement placement, platform::MainThread &mainThread,
                     const std::function<void(const std::function<void()> &)> &handOver)
{
    cpu_set_t free;
    ::sched_getaffinity(0, sizeof free, &free);
    if (placement == Placement::inherited)
        pinTo(::sched_getcpu());
    QEventLoop loop;
    double us = 0;
    int applied = 0;
    std::thread worker([&] {
        if (placement == Placement::bracketed)
            mainThread.beginHandOvers(0, count);
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < count; ++i)
            handOver([&applied] { ++applied; });
        us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        mainThread.endHandOvers();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    ::sched_setaffinity(0, sizeof free, &free);
    if (applied != count)
        std::exit(1);
    return us / count;
}

// One whole-percent step of a shown bar the size of Unspool's, on this thread.
double barStep(int count)
{
    QWidget window;
    window.resize(460, 170);
    QProgressBar bar(&window);
    bar.setGeometry(40, 80, 380, 24);
    window.show();
    QCoreApplication::processEvents();
    window.grab(); // fonts and style are loaded once per process
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i)
        bar.setValue(i % 100 + 1);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the loop Unspool runs, with its window system's sources
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    cpu_set_t free;
    ::sched_getaffinity(0, sizeof free, &free);
    if (CPU_COUNT(&free) < 2) {
        std::fprintf(stderr, "needs two processors\n");
        return 2;
    }
    int cpus[2] = {-1, -1};
    for (int c = 0, n = 0; c < CPU_SETSIZE && n < 2; ++c)
        if (CPU_ISSET(c, &free))
            cpus[n++] = c;

    std::printf("round trips of %d, median of 5 runs, us per round trip\n", count);
    std::printf("bare semaphores, one CPU           %7.2f\n",
                medianOfFive([&] { return bareRoundTrip(count, cpus[0], cpus[0]); }));
    std::printf("bare semaphores, two CPUs          %7.2f\n",
                medianOfFive([&] { return bareRoundTrip(count, cpus[0], cpus[1]); }));
    ::sched_setaffinity(0, sizeof free, &free);
    std::printf("pin + unpin the calling thread     %7.2f\n",
                medianOfFive([&] { return affinityPair(count, free); }));

    using HandOver = std::function<void(const std::function<void()> &)>;
    const HandOver blockingQueued = [&app](const std::function<void()> &work) {
        QMetaObject::invokeMethod(&app, work, Qt::BlockingQueuedConnection);
    };
    platform::QtMainThread mainThread;
    const HandOver ours = [&mainThread](const std::function<void()> &work) {
        mainThread.runAndWait(work);
    };
    const struct {
        const char *name;
        Placement placement;
        bool ours;
    } rows[] = {
        {"blocking queued call, free        ", Placement::free, false},
        {"blocking queued call, one CPU     ", Placement::inherited, false},
        {"posted event + semaphore, free    ", Placement::free, true},
        {"posted event + semaphore, one CPU ", Placement::inherited, true},
        {"Unspool's hand-over (bracketed)   ", Placement::bracketed, true},
    };
    for (const auto &row : rows)
        std::printf("%s%7.2f\n", row.name, medianOfFive([&] {
                        return loopRoundTrip(count, row.placement, mainThread,
                                             row.ours ? ours : blockingQueued);
                    }));
    std::printf("bar: one whole-percent step        %7.2f\n",
                medianOfFive([] { return barStep(500); }));
    return 0;
}
