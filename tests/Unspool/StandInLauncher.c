/* Stands in for the lesson's setup launcher where a test needs one that keeps
 * running, as a learner's open "Lesson Setup" window does: a real executable, so
 * that the file it was started from is busy while it runs. Started from
 * <lesson>/Wayfarer.app/Contents/MacOS, it adds a line to <lesson>/launcher-started,
 * then waits until the test closes the FIFO <lesson>/launcher-hold (at once when
 * there is none). */
#define _GNU_SOURCE
#include <fcntl.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(void)
{
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return 1;
    self[length] = '\0';
    char *lesson = self;
    for (int up = 0; up < 4; ++up) /* MacOS, Contents, Wayfarer.app, then the lesson */
        lesson = dirname(lesson);

    char path[PATH_MAX + 32];
    snprintf(path, sizeof path, "%s/launcher-started", lesson);
    const int marker = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (marker < 0 || write(marker, "started\n", 8) != 8)
        return 1;
    close(marker);

    snprintf(path, sizeof path, "%s/launcher-hold", lesson);
    const int hold = open(path, O_RDONLY | O_CLOEXEC);
    if (hold < 0)
        return 0;
    char byte;
    while (read(hold, &byte, 1) > 0) {
    }
    return 0;
}
