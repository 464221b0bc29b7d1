#define _GNU_SOURCE
#include "starter/cache.h"

#include "starter/sha256.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <pthread.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

enum { PIECE = 64 * 1024, PATH = 4096 };
static const char kExecutable[] = "Unspool.app/Contents/MacOS/Unspool";

static int note(struct cache_report *report, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(report->detail, sizeof report->detail, format, args);
    va_end(args);
    return 0;
}

static int join(char out[PATH], const char *a, const char *b)
{
    const int n = snprintf(out, PATH, "%s/%s", a, b);
    return n > 0 && n < PATH;
}

/* A folder of ours that nobody else may enter: made when missing, refused when it
 * is a link or another user's, closed again when it was left open. */
static int private_folder(const char *path, struct cache_report *report)
{
    if (mkdir(path, 0700) != 0 && errno != EEXIST)
        return note(report, "cannot make %s: %s", path, strerror(errno));
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_uid != getuid() ||
        ((st.st_mode & 077) && fchmod(fd, 0700) != 0)) {
        if (fd >= 0)
            close(fd);
        return note(report, "%s is not a private folder of this user", path);
    }
    close(fd);
    return 1;
}

static int cache_root(struct cache_report *report)
{
    const char *xdg = getenv("XDG_CACHE_HOME");
    char base[PATH];
    if (xdg && xdg[0] == '/') {
        snprintf(base, sizeof base, "%s", xdg);
    } else {
        const char *home = getenv("HOME");
        const struct passwd *user = home && home[0] == '/' ? NULL : getpwuid(getuid());
        if (user)
            home = user->pw_dir;
        if (!home || !join(base, home, ".cache"))
            return note(report, "no home folder");
    }
    if (mkdir(base, 0700) != 0 && errno != EEXIST)
        return note(report, "cannot make %s: %s", base, strerror(errno));
    return join(report->folder, base, "brindle") && private_folder(report->folder, report);
}

static int write_all(int fd, const void *bytes, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, (const char *)bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        done += (size_t)n;
    }
    return 1;
}

/* Where a file's stored bytes begin, and whether they are deflated. */
static int locate(int lesson, const struct runtime_file *file, uint64_t *data, int *deflated)
{
    *data = file->offset;
    *deflated = file->source != SOURCE_STORED;
    if (file->source != SOURCE_ENTRY)
        return 1;
    unsigned char header[30];
    if (!index_read_at(lesson, header, sizeof header, file->offset) ||
        memcmp(header, "PK\3\4", 4) != 0)
        return 0;
    const unsigned flags = header[6] | header[7] << 8, method = header[8] | header[9] << 8;
    if ((flags & 1) || (method != 0 && method != 8))
        return 0;
    *deflated = method == 8;
    *data += 30 + (header[26] | header[27] << 8) + (header[28] | header[29] << 8);
    return 1;
}

/* Writes the file's content to `out` and checks it against its size and hash. */
static int unpack(int lesson, const struct runtime_file *file, int out)
{
    uint64_t at = 0;
    int deflated = 0;
    if (!locate(lesson, file, &at, &deflated))
        return 0;
    unsigned char in[PIECE], produced[PIECE];
    z_stream stream = {0};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return 0;
    struct sha256 hash;
    sha256_begin(&hash);
    uint64_t left = file->stored, written = 0;
    int status = Z_OK, ok = 1;
    while (ok && left > 0 && status != Z_STREAM_END) {
        const size_t take = left < PIECE ? (size_t)left : PIECE;
        ok = index_read_at(lesson, in, take, at);
        at += take;
        left -= take;
        stream.next_in = in;
        stream.avail_in = (uInt)take;
        do {
            const unsigned char *from = in + (take - stream.avail_in);
            size_t made = stream.avail_in;
            if (deflated) {
                stream.next_out = produced;
                stream.avail_out = PIECE;
                status = inflate(&stream, Z_NO_FLUSH);
                ok = ok && (status == Z_OK || status == Z_STREAM_END || status == Z_BUF_ERROR);
                from = produced;
                made = PIECE - stream.avail_out;
            } else {
                stream.avail_in = 0;
            }
            sha256_add(&hash, from, made);
            written += made;
            ok = ok && write_all(out, from, made);
        } while (ok && deflated && stream.avail_out == 0);
    }
    inflateEnd(&stream);
    char actual[65];
    sha256_end_hex(&hash, actual);
    return ok && written == file->size && (!deflated || status == Z_STREAM_END) &&
           strcmp(actual, file->sha256) == 0;
}

static int make_parents(const char *root, const char *path)
{
    char folder[PATH];
    for (const char *slash = strchr(path, '/'); slash; slash = strchr(slash + 1, '/')) {
        const int n = snprintf(folder, sizeof folder, "%s/%.*s", root, (int)(slash - path), path);
        if (n <= 0 || n >= PATH || (mkdir(folder, 0755) != 0 && errno != EEXIST))
            return 0;
    }
    return 1;
}

static int fill_file(int lesson, const char *root, const struct runtime_file *file,
                     struct cache_report *report)
{
    char target[PATH];
    if (!join(target, root, file->path) || !make_parents(root, file->path))
        return note(report, "cannot make the folders of %s", file->path);
    const int out = open(target, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0)
        return note(report, "cannot write %s: %s", target, strerror(errno));
    const int unpacked = unpack(lesson, file, out);
    const int kept = fchmod(out, file->mode) == 0;
    if (close(out) != 0 || !kept)
        return note(report, "cannot write %s", target);
    return unpacked ? 1 : note(report, "damaged: the runtime file %s failed its check", file->path);
}

static int is_complete(const char *root, const struct lesson_index *index)
{
    char path[PATH];
    struct stat st;
    for (size_t i = 0; i < index->file_count; ++i) {
        const struct runtime_file *file = &index->files[i];
        if (!join(path, root, file->path) || lstat(path, &st) != 0 || !S_ISREG(st.st_mode) ||
            (uint64_t)st.st_size != file->size || (st.st_mode & 0777) != file->mode)
            return 0;
    }
    return 1;
}

static int remove_entry(const char *path, const struct stat *st, int kind, struct FTW *walk)
{
    (void)st, (void)kind, (void)walk;
    remove(path);
    return 0;
}

static void remove_tree(const char *path)
{
    nftw(path, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

/* What an interrupted filler left behind, and a runtime found incomplete. Called
 * under the fill lock, so no other filler is at work. */
static void sweep(const char *runtimes, const char *stale)
{
    remove_tree(stale);
    DIR *folder = opendir(runtimes);
    if (!folder)
        return;
    char path[PATH];
    for (const struct dirent *entry; (entry = readdir(folder));) {
        if (!strncmp(entry->d_name, ".fill-", 6) && join(path, runtimes, entry->d_name))
            remove_tree(path);
    }
    closedir(folder);
}

/* The files are shared out between two workers, the caller and one more thread: most
 * of a fill is inflating and hashing, which the two do side by side. */
struct fill_work {
    int lesson;
    const struct lesson_index *index;
    const char *root;
    atomic_size_t next;
    atomic_int failed;
    struct cache_report report; /* the first failure's */
    pthread_mutex_t lock;
};

static void *fill_some(void *argument)
{
    struct fill_work *work = argument;
    struct cache_report mine = {{0}, {0}};
    for (size_t i; !atomic_load(&work->failed) &&
                   (i = atomic_fetch_add(&work->next, 1)) < work->index->file_count;) {
        if (fill_file(work->lesson, work->root, &work->index->files[i], &mine))
            continue;
        pthread_mutex_lock(&work->lock);
        if (!atomic_exchange(&work->failed, 1))
            work->report = mine;
        pthread_mutex_unlock(&work->lock);
    }
    return NULL;
}

static int fill_runtime(int lesson, const struct lesson_index *index, const char *runtimes,
                        const char *target, struct cache_report *report)
{
    char scratch[PATH];
    if (snprintf(scratch, sizeof scratch, "%s/.fill-XXXXXX", runtimes) >= PATH || !mkdtemp(scratch))
        return note(report, "cannot make a folder in %s: %s", runtimes, strerror(errno));
    struct fill_work work = {.lesson = lesson, .index = index, .root = scratch};
    pthread_mutex_init(&work.lock, NULL);
    pthread_t helper;
    const int helped = pthread_create(&helper, NULL, fill_some, &work) == 0;
    fill_some(&work);
    if (helped)
        pthread_join(helper, NULL);
    pthread_mutex_destroy(&work.lock);
    if (atomic_load(&work.failed)) {
        snprintf(report->detail, sizeof report->detail, "%s", work.report.detail);
        remove_tree(scratch);
        return 0;
    }
    if (rename(scratch, target) != 0) {
        remove_tree(scratch);
        return note(report, "cannot move the runtime into %s: %s", target, strerror(errno));
    }
    return 1;
}

static enum cache_result ensure_runtime(int lesson, const struct lesson_index *index,
                                        char executable[PATH], struct cache_report *report)
{
    char runtimes[PATH], target[PATH], lock_path[PATH];
    if (!join(runtimes, report->folder, "runtimes") || !private_folder(runtimes, report) ||
        !join(target, runtimes, index->runtime_id) || !join(executable, target, kExecutable) ||
        !join(lock_path, runtimes, ".lock"))
        return CACHE_UNWRITABLE;
    if (is_complete(target, index))
        return CACHE_READY;
    /* One filler at a time; a lesson opened meanwhile waits, then finds it done. */
    const int lock = open(lock_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        note(report, "cannot lock %s: %s", lock_path, strerror(errno));
        return CACHE_UNWRITABLE;
    }
    enum cache_result result = CACHE_READY;
    if (!is_complete(target, index)) {
        sweep(runtimes, target);
        if (!fill_runtime(lesson, index, runtimes, target, report))
            result = strncmp(report->detail, "damaged", 7) ? CACHE_UNWRITABLE : CACHE_DAMAGED;
    }
    close(lock);
    return result;
}

static enum cache_result ensure_icon(int lesson, const struct lesson_index *index, char icon[PATH],
                                     struct cache_report *report)
{
    char icons[PATH], name[80], scratch[PATH];
    struct stat st;
    icon[0] = '\0';
    if (!index->has_icon)
        return CACHE_READY;
    snprintf(name, sizeof name, "%s.icns", index->icon_sha256);
    if (!join(icons, report->folder, "icons") || !private_folder(icons, report) ||
        !join(icon, icons, name) || !join(scratch, icons, ".icon-XXXXXX"))
        return CACHE_UNWRITABLE;
    if (lstat(icon, &st) == 0 && S_ISREG(st.st_mode) && (uint64_t)st.st_size == index->icon_size)
        return CACHE_READY;
    const int out = mkstemp(scratch);
    if (out < 0) {
        note(report, "cannot write in %s: %s", icons, strerror(errno));
        return CACHE_UNWRITABLE;
    }
    struct runtime_file file = {
        0644, index->icon_size, {0}, SOURCE_STORED, index->icon_offset, index->icon_size, name};
    memcpy(file.sha256, index->icon_sha256, 65);
    const int copied = unpack(lesson, &file, out) && fchmod(out, 0644) == 0;
    close(out);
    if (!copied || rename(scratch, icon) != 0) {
        unlink(scratch);
        note(report, "damaged: the lesson's icon failed its check");
        return copied ? CACHE_UNWRITABLE : CACHE_DAMAGED;
    }
    return CACHE_READY;
}

enum cache_result cache_prepare(int lesson_fd, const struct lesson_index *index,
                                char executable[PATH], char icon[PATH], struct cache_report *report)
{
    if (!cache_root(report))
        return CACHE_UNWRITABLE;
    struct statvfs fs;
    if (statvfs(report->folder, &fs) == 0 && (fs.f_flag & ST_NOEXEC))
        return CACHE_NOEXEC;
    const enum cache_result result = ensure_runtime(lesson_fd, index, executable, report);
    return result == CACHE_READY ? ensure_icon(lesson_fd, index, icon, report) : result;
}
