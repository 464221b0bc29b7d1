#include "starter/index.h"

#include "starter/sha256.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { TRAILER_MAX = 128, INDEX_MAX = 65535 };

int index_read_at(int fd, void *into, size_t size, uint64_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, (char *)into + done, size - done, (off_t)(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        done += (size_t)n;
    }
    return 1;
}

static int is_hash(const char *text)
{
    if (strlen(text) != 64)
        return 0;
    for (const char *c = text; *c; ++c) {
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f')))
            return 0;
    }
    return 1;
}

static int parse_number(const char *text, int base, uint64_t *value)
{
    char *end = NULL;
    errno = 0;
    const unsigned long long parsed = strtoull(text, &end, base);
    if (errno || end == text || *end || *text == '-' || *text == '+')
        return 0;
    *value = parsed;
    return 1;
}

/* A runtime path stays inside the runtime folder: relative, no empty, "." or ".."
 * component, nothing below a space but the space itself. */
static int is_safe_path(const char *path)
{
    if (!*path || *path == '/' || strlen(path) > 1024)
        return 0;
    for (const char *c = path; *c; ++c) {
        if ((unsigned char)*c < 0x20 || *c == 0x7f)
            return 0;
    }
    for (const char *part = path; part;) {
        const char *slash = strchr(part, '/');
        const size_t length = slash ? (size_t)(slash - part) : strlen(part);
        if (length == 0 || (length == 1 && part[0] == '.') ||
            (length == 2 && part[0] == '.' && part[1] == '.'))
            return 0;
        part = slash ? slash + 1 : NULL;
    }
    return 1;
}

/* "file <mode> <size> <sha256> <inline|entry> <offset> <stored> <path>" */
static int parse_file(char *line, uint64_t file_size, struct runtime_file *file)
{
    char *fields[7];
    for (int i = 0; i < 7; ++i) {
        fields[i] = line;
        line = strchr(line, ' ');
        if (!line)
            return 0;
        *line++ = '\0';
    }
    uint64_t mode = 0;
    if (strcmp(fields[0], "file") != 0 || !parse_number(fields[1], 8, &mode) || mode > 0777 ||
        !parse_number(fields[2], 10, &file->size) || !is_hash(fields[3]) ||
        !parse_number(fields[5], 10, &file->offset) ||
        !parse_number(fields[6], 10, &file->stored) || !is_safe_path(line))
        return 0;
    if (!strcmp(fields[4], "inline"))
        file->source = SOURCE_INLINE;
    else if (!strcmp(fields[4], "entry"))
        file->source = SOURCE_ENTRY;
    else
        return 0;
    if (file->offset > file_size || file->stored > file_size - file->offset)
        return 0;
    file->mode = (unsigned)mode;
    memcpy(file->sha256, fields[3], 65);
    file->path = line;
    return 1;
}

static int parse_icon(char *line, uint64_t file_size, struct lesson_index *index)
{
    char hash[65] = {0};
    unsigned long long offset = 0, size = 0;
    int used = 0;
    if (sscanf(line, "icon %llu %llu %64[0-9a-f]%n", &offset, &size, hash, &used) != 3 ||
        line[used] || !is_hash(hash) || offset > file_size || size > file_size - offset)
        return 0;
    index->has_icon = 1;
    index->icon_offset = offset;
    index->icon_size = size;
    memcpy(index->icon_sha256, hash, 65);
    return 1;
}

static int parse_line(char *line, uint64_t file_size, struct lesson_index *index)
{
    if (!strncmp(line, "name ", 5)) {
        index->name = line + 5;
        return *index->name != '\0';
    }
    if (!strncmp(line, "runtime ", 8)) {
        memcpy(index->runtime_id, line + 8, strlen(line + 8) == 64 ? 65 : 0);
        return is_hash(line + 8);
    }
    if (!strncmp(line, "icon ", 5))
        return parse_icon(line, file_size, index);
    if (!strncmp(line, "file ", 5)) {
        struct runtime_file *files =
            realloc(index->files, (index->file_count + 1) * sizeof *index->files);
        if (!files)
            return 0;
        index->files = files;
        return parse_file(line, file_size, &files[index->file_count++]);
    }
    return 0;
}

/* The runtime is named by what it holds, not by where its bytes lie: two lessons
 * packed from the same runtime share one folder of the cache. */
static void runtime_id(const struct lesson_index *index, char id[65])
{
    struct sha256 hash;
    sha256_begin(&hash);
    char line[128];
    for (size_t i = 0; i < index->file_count; ++i) {
        const struct runtime_file *file = &index->files[i];
        const int n = snprintf(line, sizeof line, "%o %llu %s ", file->mode,
                               (unsigned long long)file->size, file->sha256);
        sha256_add(&hash, line, (size_t)n);
        sha256_add(&hash, file->path, strlen(file->path));
        sha256_add(&hash, "\n", 1);
    }
    sha256_end_hex(&hash, id);
}

static int parse_index(char *text, uint64_t file_size, struct lesson_index *index, const char **why)
{
    char *line = text;
    char *end = strchr(line, '\n');
    if (!end || (*end = '\0', strcmp(line, "lesson-file 1") != 0)) {
        *why = "the index is of an unknown kind";
        return 0;
    }
    for (line = end + 1; *line; line = end + 1) {
        end = strchr(line, '\n');
        if (!end || (*end = '\0', !parse_line(line, file_size, index))) {
            *why = "the index holds a line it should not";
            return 0;
        }
    }
    char id[65];
    runtime_id(index, id);
    if (!index->name || index->file_count == 0 || strcmp(id, index->runtime_id) != 0) {
        *why = "the index does not describe a runtime";
        return 0;
    }
    return 1;
}

static int read_text(int fd, uint64_t file_size, char **text, const char **why)
{
    char trailer[TRAILER_MAX + 1] = {0};
    const uint64_t tail = file_size < TRAILER_MAX ? file_size : TRAILER_MAX;
    *why = "the file ends before its index";
    if (!index_read_at(fd, trailer, tail, file_size - tail) || tail == 0 ||
        trailer[tail - 1] != '\n')
        return 0;
    trailer[tail - 1] = '\0';
    const char *last = strrchr(trailer, '\n');
    last = last ? last + 1 : trailer;
    unsigned long long length = 0;
    char expected[65] = {0};
    int used = 0;
    if (sscanf(last, "lesson-index %llu %64[0-9a-f]%n", &length, expected, &used) != 2 ||
        last[used] || length > INDEX_MAX)
        return 0;
    const uint64_t trailer_size = strlen(last) + 1;
    if (length + trailer_size > file_size)
        return 0;
    *text = malloc(length + 1);
    if (!*text || !index_read_at(fd, *text, length, file_size - trailer_size - length))
        return 0;
    (*text)[length] = '\0';
    struct sha256 hash;
    char actual[65];
    sha256_begin(&hash);
    sha256_add(&hash, *text, length);
    sha256_end_hex(&hash, actual);
    *why = "the index does not match its checksum";
    return strcmp(actual, expected) == 0 && strlen(*text) == length;
}

int index_read(int fd, struct lesson_index *index, const char **why)
{
    memset(index, 0, sizeof *index);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = "the lesson file cannot be read";
        return 0;
    }
    if (!read_text(fd, (uint64_t)st.st_size, &index->text, why) ||
        !parse_index(index->text, (uint64_t)st.st_size, index, why)) {
        index_free(index);
        return 0;
    }
    return 1;
}

void index_free(struct lesson_index *index)
{
    free(index->text);
    free(index->files);
    memset(index, 0, sizeof *index);
}
