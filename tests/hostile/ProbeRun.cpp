#include "ProbeRun.h"

ProbeResult runProbe(const ProbeSpec &spec)
{
    childrun::Spec child;
    child.program = probePath();
    child.arguments = {spec.archive, spec.destination};
    if (!spec.password.isEmpty())
        child.arguments.append(spec.password);
    child.environment = spec.environment;
    child.fileSizeLimit = spec.fileSizeLimit;

    ProbeResult result;
    result.child = childrun::run(child);
    for (const QByteArray &line : result.child.output.split('\n')) {
        if (line == "open YES")
            result.opened = true;
        else if (line.startsWith("result "))
            result.finished = true, result.result = line == "result YES";
        else if (line == "complete")
            result.complete = true;
        else if (line.startsWith("message "))
            result.messages.append(QString::fromUtf8(line.mid(8)));
        else if (line.startsWith("progress ")) {
            const QList<QByteArray> parts = line.split(' ');
            result.done = parts.value(1).toInt();
            result.total = parts.value(2).toInt();
        }
    }
    return result;
}

QString probePath()
{
    return QStringLiteral(EXTRACT_PROBE);
}
