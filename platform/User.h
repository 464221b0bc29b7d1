#pragma once

#include <QByteArray>
#include <QString>

namespace platform
{

class User
{
  public:
    virtual ~User() = default;
    virtual QString loginName() const = 0;
    virtual QString homeDirectory() const = 0;
    // The same as file-system bytes: a home folder whose name is not UTF-8 keeps it.
    virtual QByteArray homeDirectoryBytes() const = 0;
};

} // namespace platform
