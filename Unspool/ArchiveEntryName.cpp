#include "ArchiveEntryName.h"

#include "NSStringReplaceAllCategory.h"

ArchiveEntryName ArchiveEntryName::parse(const QByteArray &raw)
{
    ArchiveEntryName name;
    name.isFolder = raw.endsWith('/') || raw.endsWith('\\');

    // Archives written on either kind of system give the same tree.
    QByteArray slashed = raw;
    if (raw.contains('\\'))
        slashed = ReplaceAll::stringByReplacingOccurrencesOfString(raw, "\\", "/");

    for (const QByteArray &component : slashed.split('/')) {
        if (component.isEmpty() || component == ".")
            continue;
        if (component == "..")
            name.leadsOutside = true;
        name.components.append(component);
    }
    if (name.components.isEmpty())
        name.isFolder = true;
    return name;
}
