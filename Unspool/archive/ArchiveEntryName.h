#pragma once

#include <QByteArray>
#include <QList>

// An entry name as the archive holds it, taken apart into the folders and file it
// names below the destination. Names are bytes and stay bytes: they go to the file
// system unchanged.
struct ArchiveEntryName {
    // Path components below the destination; empty and "." components are dropped,
    // so a leading "/" (an absolute name) stays inside the destination.
    QList<QByteArray> components;
    // The raw name ends in "/" or "\", or names no component at all (the empty name
    // stands for the destination itself).
    bool isFolder = false;
    // A ".." component: following the name could leave the destination.
    bool leadsOutside = false;

    static ArchiveEntryName parse(const QByteArray &raw);
};
