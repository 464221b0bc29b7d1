#pragma once

#include "TemporaryDirectory.h"

namespace platform {

// $TMPDIR when it is set and closed to other users; otherwise a folder user-<uid>
// below it (or below /tmp), created mode 0700 and verified on every call: a real
// folder (not a link), owned by us, open to nobody else. A shared folder is never
// handed out itself, since programs unpacked there are run.
class LinuxTemporaryDirectory : public TemporaryDirectory {
public:
    QString path() const override;
    // The private-folder rule alone, below `root`; empty when no such folder can be had.
    static QString privateFolderBelow(const QString &root);
};

} // namespace platform
