#pragma once

#include "platform/User.h"

namespace platform
{

// The user the process runs as, from the password database. The home folder
// follows $HOME when it is set, as every desktop program does.
class LinuxUser : public User
{
  public:
    QString loginName() const override;
    QString homeDirectory() const override;
    QByteArray homeDirectoryBytes() const override;
};

} // namespace platform
