#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace platform
{

// One authorised channel for running a few fixed system tools with administrator
// rights. It stays authorised for as long as the object lives.
class PrivilegedSession
{
  public:
    virtual ~PrivilegedSession() = default;
    // Starts `tool` with `arguments` as root and returns without waiting for it.
    // True when the tool was started; false when the channel refused the request
    // (an unknown tool, a malformed argument) or has been lost (the user refused
    // the authorization, the helper ended).
    virtual bool execute(const QString &tool, const QStringList &arguments) = 0;
};

// Opens privileged sessions. Opening may show the system's authentication dialog
// later, on the first request; a refusal shows as a failed first `execute`.
class PrivilegedRunner
{
  public:
    virtual ~PrivilegedRunner() = default;
    // A new session, or nullptr when no session can be set up at all (the
    // authorization machinery is missing).
    virtual std::unique_ptr<PrivilegedSession> open() = 0;
};

} // namespace platform
