/* The starter of a lesson file: the program a learner opens. It reads the index at
 * the end of its own file, makes sure the runtime the lesson needs is whole in the
 * user's cache (unpacking it there the first time), and becomes that runtime's
 * Unspool, which reads the lesson archive straight out of this file. It has no
 * toolkit of its own: what it must say before Unspool runs goes to standard error
 * and, on a desktop, to whatever dialog program the desktop has. */
#define _GNU_SOURCE
#include "starter/cache.h"
#include "starter/index.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static const char kDamaged[] = "This lesson file is damaged or incomplete. Download it again.";

/* Shows `message` with the first dialog program the desktop has; 0 when none did. */
static int show_dialog(const char *title, const char *message)
{
    if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY"))
        return 0;
    char titled[256];
    snprintf(titled, sizeof titled, "--title=%s", title);
    const char *const commands[][6] = {
        {"zenity", "--error", "--no-wrap", titled, "--text", message},
        {"kdialog", "--title", title, "--error", message, NULL},
        {"xmessage", "-center", message, NULL},
        {"notify-send", title, message, NULL},
    };
    for (size_t i = 0; i < sizeof commands / sizeof commands[0]; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            char *argv[7] = {0};
            memcpy(argv, commands[i], sizeof commands[i]);
            execvp(argv[0], argv);
            _exit(127);
        }
        int status = 0;
        if (child > 0 && waitpid(child, &status, 0) == child &&
            !(WIFEXITED(status) && WEXITSTATUS(status) == 127))
            return 1;
    }
    return 0;
}

/* Says `message` (with `detail` for whoever reads standard error) and ends. */
static int refuse(const char *title, const char *message, const char *detail)
{
    fprintf(stderr, "%s\n", message);
    if (detail && *detail)
        fprintf(stderr, "(%s)\n", detail);
    show_dialog(title, message);
    return 1;
}

static int refuse_cache(const char *title, enum cache_result result,
                        const struct cache_report *report)
{
    char message[8192];
    if (result == CACHE_DAMAGED)
        return refuse(title, kDamaged, report->detail);
    if (result == CACHE_NOEXEC)
        snprintf(message, sizeof message,
                 "This lesson cannot start: programs may not run from %s (its disk is mounted "
                 "\"noexec\"). Ask your administrator to allow programs there, or set "
                 "XDG_CACHE_HOME to a folder where they may run, then open the lesson again.",
                 report->folder);
    else
        snprintf(message, sizeof message,
                 "This lesson cannot start: it cannot keep its files in %s. Make room there or "
                 "check that the folder is yours, then open the lesson again.",
                 report->folder[0] ? report->folder : "your cache folder");
    return refuse(title, message, report->detail);
}

int main(int argc, char **argv)
{
    (void)argc;
    /* Kept open for Unspool, which reads the lesson from this descriptor. */
    const int lesson = open("/proc/self/exe", O_RDONLY);
    struct lesson_index index;
    const char *why = "the lesson file cannot be read";
    if (lesson < 0 || !index_read(lesson, &index, &why))
        return refuse("Lesson", kDamaged, why);

    char executable[4096], icon[4096];
    struct cache_report report = {{0}, {0}};
    const enum cache_result result = cache_prepare(lesson, &index, executable, icon, &report);
    if (result != CACHE_READY)
        return refuse_cache(index.name, result, &report);

    char fd[16];
    snprintf(fd, sizeof fd, "%d", lesson);
    setenv("UNSPOOL_LESSON_FD", fd, 1);
    setenv("UNSPOOL_LESSON_NAME", index.name, 1);
    if (icon[0])
        setenv("UNSPOOL_LESSON_ICON", icon, 1);
    else
        unsetenv("UNSPOOL_LESSON_ICON");
    char *const arguments[] = {executable, NULL};
    execv(executable, arguments);
    const int error = errno;
    snprintf(report.detail, sizeof report.detail, "cannot start %s: %s", executable,
             strerror(error));
    (void)argv;
    return refuse_cache(index.name,
                        error == EACCES || error == EPERM ? CACHE_NOEXEC : CACHE_DAMAGED, &report);
}
