/* The per-user cache of runtimes: $XDG_CACHE_HOME/brindle (else ~/.cache/brindle),
 * private to the user, holding runtimes/<runtime id>/ and icons/<SHA-256>.icns.
 * A runtime folder appears under its id only once it is complete and checked: it
 * is filled under a temporary name, one filler at a time, and renamed into place. */
#pragma once

#include "starter/index.h"

#include <stddef.h>

enum cache_result {
    CACHE_READY,
    CACHE_DAMAGED,    /* a part of the lesson file failed its check */
    CACHE_UNWRITABLE, /* the cache cannot be made or written */
    CACHE_NOEXEC,     /* programs may not run from the cache's file system */
};

struct cache_report {
    char folder[4096]; /* the cache folder, once known */
    char detail[5120]; /* for the developer: which part or which call failed */
};

/* Makes sure the lesson's runtime is in the cache, whole, and the lesson's icon
 * too; fills in the runtime's executable and the icon's path (empty without one). */
enum cache_result cache_prepare(int lesson_fd, const struct lesson_index *index,
                                char executable[4096], char icon[4096],
                                struct cache_report *report);
