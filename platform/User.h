#pragma once

#include <QString>

namespace platform {

class User {
public:
    virtual ~User() = default;
    virtual QString loginName() const = 0;
    virtual QString homeDirectory() const = 0;
};

} // namespace platform
