/* SHA-256, enough to check the parts of a lesson file against its index. */
#pragma once

#include <stddef.h>
#include <stdint.h>

struct sha256 {
    uint32_t state[8];
    uint64_t length; /* bytes taken so far */
    unsigned char block[64];
    size_t filled;
};

/* Set to leave the processor's SHA instructions unused (the tests compare both ways). */
extern int sha256_portable_only;

void sha256_begin(struct sha256 *hash);
void sha256_add(struct sha256 *hash, const void *data, size_t size);
/* The digest as 64 lower-case hex digits and a NUL. */
void sha256_end_hex(struct sha256 *hash, char hex[65]);
