#pragma once

#include <QString>

namespace platform {

// The user's temporary folder. Programs are run from what is unpacked there, so it
// must be private to the user.
class TemporaryDirectory {
public:
    virtual ~TemporaryDirectory() = default;
    // The folder path ending in "/", or an empty string when no safe folder can be had.
    virtual QString path() const = 0;
};

} // namespace platform
