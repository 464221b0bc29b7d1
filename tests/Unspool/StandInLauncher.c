/* Stands in for the lesson's setup launcher: a real executable, so that its file is
 * busy while it runs. Started from <lesson>/Wayfarer.app/Contents/MacOS, it appends
 * to <lesson>/launcher-started a line: the processors it may run on and how many
 * descriptors beyond the standard three it inherited. Then it waits until the test
 * closes the FIFO <lesson>/launcher-hold (at once when there is none). */
#define _GNU_SOURCE
#include <dirent.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void)
{
    char lesson[PATH_MAX] = "", path[PATH_MAX + 32], line[512] = "";
    int inherited = 0;
    DIR *fds = opendir("/proc/self/fd");
    for (struct dirent *e; fds && (e = readdir(fds));)
        inherited += atoi(e->d_name) > 2 && atoi(e->d_name) != dirfd(fds);
    FILE *status = fopen("/proc/self/status", "re");
    while (status && fgets(line, sizeof line, status) && strncmp(line, "Cpus_allowed_list:", 18))
        ;
    if (!realpath("/proc/self/exe", lesson))
        return 1;
    for (int up = 0; up < 4; ++up) /* MacOS, Contents, Wayfarer.app, then the lesson */
        dirname(lesson);
    snprintf(path, sizeof path, "%s/launcher-started", lesson);
    FILE *marker = fopen(path, "ae");
    if (!marker || fprintf(marker, "%s %d\n", strtok(line + 18, " \t\n"), inherited) < 0)
        return 1;
    fclose(marker);
    snprintf(path, sizeof path, "%s/launcher-hold", lesson);
    FILE *hold = fopen(path, "re");
    while (hold && fgetc(hold) != EOF)
        ;
    return 0;
}
