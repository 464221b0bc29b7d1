#pragma once

#include "TemporaryDirectory.h"

namespace platform {

// $TMPDIR when set; otherwise /tmp/user-<uid>/, created mode 0700 and verified on
// every call: a real folder (not a link), owned by us, open to nobody else. The
// shared /tmp itself is never handed out, since programs unpacked there are run.
class LinuxTemporaryDirectory : public TemporaryDirectory {
public:
    QString path() const override;
    // The private-folder rule alone, below `root` (tests point it elsewhere).
    static QString privateFolderBelow(const QString &root);
};

} // namespace platform
