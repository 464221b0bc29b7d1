#pragma once

// Renames `from` to `to` unless something (a file, a folder, a link) is at `to`
// already; then it fails with errno EEXIST. 0 on success, -1 with errno otherwise,
// as rename(2). Where the file system knows no rename flags, a check right before a
// plain rename has to do, which leaves a small window for a racing writer.
int renameWithoutReplacing(const char *from, const char *to);
