#pragma once

#include <QString>

// What a LessonArchive tells whoever extracts with it. Every message is optional:
// a delegate says which ones it takes, and the archive sends only those.
class LessonArchiveDelegate
{
  public:
    enum class Message { ErrorMessage, OverWriteOperation, ExtractionProgress, ExtractionComplete };

    virtual ~LessonArchiveDelegate() = default;
    virtual bool respondsTo(Message message) const = 0;

    // An error text from the extraction.
    virtual void ErrorMessage(const QString & /*message*/) {}
    // A file exists at `path` and the extraction was not told to overwrite:
    // true replaces it, false skips the entry.
    virtual bool OverWriteOperation(const QString & /*path*/) { return true; }
    // After each entry that was not skipped: entries done (counting this one), total.
    virtual void ExtractionProgress(int /*done*/, int /*total*/) {}
    // Once, after the last entry, when the extraction did not stop on an error.
    virtual void ExtractionComplete() {}
};
