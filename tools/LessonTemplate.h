#pragma once

#include <QString>

namespace lessonpack
{

struct PackRequest;

// The folder holding the Unspool and Wayfarer bundles the packer copies by default:
// next to an installed lesson-pack (<bin>/../lib/brindle/bundles), else this build's.
QString defaultBundleFolder();

// The starter program of lesson files that goes with the Unspool bundle `unspool`:
// the one beside it, else the one beside the default bundles.
QString starterBeside(const QString &unspool);

// What the packer adds to the plain templates.
struct TemplateChanges {
    QString iconImage;          // a picture (PNG) to become the lesson's .icns icon
    bool selfContained = false; // the bundles must carry their libraries
};

// Prepares the templates a lesson is packed from in `scratch` (an empty folder that
// the caller removes afterwards) and points `request` at them: with an icon, copies
// of Unspool.app and Wayfarer.app carrying Resources/Lesson.icns named by
// CFBundleIconFile; when self-contained bundles are asked for and a template is not
// one yet (it lacks Contents/Frameworks, as bundles in a build tree do), a copy made
// self-contained by this build's SelfContained.cmake. Templates that need no change
// stay as they are.
bool prepareTemplates(PackRequest &request, const TemplateChanges &changes, const QString &scratch,
                      QString &why);

// True when `bundle` carries its own libraries and Qt plug-ins.
bool isSelfContained(const QString &bundle);

} // namespace lessonpack
