#include "ProcessTools.h"

// procps' ps has neither the BSD "-c" switch nor the one-word "-p 412" form, so the
// process and the output column are separate arguments here.
namespace platform::tools
{

QString lsofToolPath()
{
    return QStringLiteral("/usr/bin/lsof");
}

QStringList lsofArguments(const QString &folder)
{
    return {QStringLiteral("-Fp"), QStringLiteral("-w"), QStringLiteral("+D"), folder};
}

QString psToolPath()
{
    return QStringLiteral("/bin/ps");
}

QStringList psArguments(int pid)
{
    return {QStringLiteral("-p"), QString::number(pid), QStringLiteral("-o"),
            QStringLiteral("comm=")};
}

} // namespace platform::tools
