/* The index at the end of a lesson file: what the file carries and where.
 *
 * A lesson file is the starter program, then the runtime's own files (each raw
 * deflate), then the lesson archive, whose end-record comment holds the index as
 * text, one record a line, closed by a last line that gives the index's length and
 * SHA-256:
 *
 *   lesson-file 1
 *   name <lesson name>
 *   runtime <SHA-256 of the runtime's "file" lines, see index_runtime_id>
 *   icon <offset> <size> <SHA-256>                                   (optional)
 *   file <mode> <size> <SHA-256> inline <offset> <stored size> <path>
 *   file <mode> <size> <SHA-256> entry <offset> <stored size> <path>
 *   lesson-index <length of the lines above> <their SHA-256>
 *
 * Offsets count from the start of the file. An "inline" file is raw deflate data
 * at its offset; an "entry" file is the data of the archive entry whose local
 * header lies at its offset (a library the lesson's setup launcher carries too), so
 * the runtime's libraries travel once. Paths are relative to the runtime folder. */
#pragma once

#include <stddef.h>
#include <stdint.h>

/* SOURCE_STORED: bytes kept as they are (the icon); never in a "file" line. */
enum source { SOURCE_INLINE, SOURCE_ENTRY, SOURCE_STORED };

struct runtime_file {
    unsigned mode;
    uint64_t size;
    char sha256[65];
    enum source source;
    uint64_t offset;
    uint64_t stored;
    const char *path; /* points into the index text */
};

struct lesson_index {
    char *text; /* the index, its lines cut into strings */
    const char *name;
    char runtime_id[65];
    int has_icon;
    uint64_t icon_offset, icon_size;
    char icon_sha256[65];
    struct runtime_file *files;
    size_t file_count;
};

/* `size` bytes at `offset` of `fd`, read whole (through EINTR and short reads); 0 when the
 * file ends first or a read fails. */
int index_read_at(int fd, void *into, size_t size, uint64_t offset);

/* Reads and checks the index of the lesson file open at `fd`. On failure returns 0
 * and says in `why` what was wrong. */
int index_read(int fd, struct lesson_index *index, const char **why);

void index_free(struct lesson_index *index);
