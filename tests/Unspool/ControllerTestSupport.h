#pragma once

#include "Fakes.h"
#include "LessonZip.h"
#include "MainMenuViewController.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "Waiting.h"

#include <functional>
#include <memory>

// A lesson bundle laid out in a fresh folder, with fake services around the real
// hand-over to the main thread.
// Members are public so that table rows can arrange a case.
class ControllerTest : public ::testing::Test
{
  public:
    void SetUp() override;

    QString archivePath() const;
    // Puts an archive with `entries` into the bundle's resources.
    bool installArchive(const QList<lessonzip::Entry> &entries);
    // The folder the lesson should land in, worked out here independently.
    QString expectedLessonFolder() const;

    std::unique_ptr<unspool::MainMenuViewController> makeController();
    // Starts the extraction thread and waits until the program would end (it quit
    // or shows an alert) and the thread has finished.
    void runToEnd(unspool::MainMenuViewController &controller);

    QTemporaryDir root;
    fakes::MainBundle bundle;
    fakes::TemporaryDirectory temporary;
    fakes::OpenService opener;
    fakes::Alerts alerts;
    fakes::MainThread mainThread;
    int quits = 0;
};
