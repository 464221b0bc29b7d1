/* Stands in for the lesson's launcher, a real executable so that its file is busy while it
 * runs: appends to <lesson>/launcher-started the processors it may run on and how many
 * descriptors beyond the standard three it inherited, then waits until the test closes the
 * FIFO <lesson>/launcher-hold (at once when there is none). */
#include <stdlib.h>

int main(void)
{
    return system("p=/proc/$PPID && cd \"$(dirname \"$(readlink $p/exe)\")/../../..\" || exit 1\n"
                  "set -- $(ls $p/fd) && cpus=$(sed -n 's/^Cpus_allowed_list:\\s*//p' $p/status)\n"
                  "echo \"$cpus $(($# - 3))\" >>launcher-started || exit 1\n"
                  "[ ! -p launcher-hold ] || cat launcher-hold >/dev/null") != 0;
}
