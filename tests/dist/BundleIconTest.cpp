// A lesson's icon: a picture written as .icns, named by CFBundleIconFile, shown on
// the program's windows.
#include "BundledQt.h"
#include "IcnsFile.h"

#include "TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

// A bundle on disk whose Info.plist is given as a map.
class FolderBundle : public platform::MainBundle
{
public:
    FolderBundle(QString path, QVariantMap info) : m_path(std::move(path)), m_info(std::move(info)) {}
    QString bundlePath() const override { return m_path; }
    QString pathForResource(const QString &name, const QString &type) const override
    {
        const QString path = m_path + "/Contents/Resources/" + name + "." + type;
        return QFileInfo::exists(path) ? path : QString();
    }
    QString displayName() const override { return QStringLiteral("Lesson"); }
    QVariant infoValue(const QString &key) const override { return m_info.value(key); }

private:
    QString m_path;
    QVariantMap m_info;
};

struct IconCase {
    const char *name;
    QSize picture;         // empty: the picture file is not an image
    const char *iconFile;  // CFBundleIconFile; null: none
    bool converted;
    bool shown;
};

class BundleIcon : public ::testing::TestWithParam<IconCase>
{
};

TEST_P(BundleIcon, IsWrittenAndShown)
{
    const IconCase &row = GetParam();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString picture = folder.filePath("picture.png");
    if (row.picture.isEmpty()) {
        ASSERT_TRUE(testfiles::write(picture, "not a picture"));
    } else {
        QImage image(row.picture, QImage::Format_ARGB32);
        image.fill(QColor(0xc0, 0x40, 0x20));
        ASSERT_TRUE(image.save(picture));
    }
    const QString bundle = folder.filePath("Lesson.app");
    ASSERT_TRUE(QDir().mkpath(bundle + "/Contents/Resources"));
    const QString icns = bundle + "/Contents/Resources/Lesson.icns";

    QString why;
    EXPECT_EQ(icons::convertToIcns(picture, icns, why), row.converted) << why.toStdString();
    if (row.converted) {
        EXPECT_EQ(testfiles::read(icns).left(4), QByteArray("icns"));
        const QImage read(icns);
        EXPECT_EQ(read.size(), QSize(256, 256)) << "a non-square picture is centred on a square";
    } else {
        EXPECT_FALSE(why.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(icns));
    }

    QApplication::setWindowIcon(QIcon());
    QVariantMap info;
    if (row.iconFile)
        info.insert(QStringLiteral("CFBundleIconFile"), QString::fromLatin1(row.iconFile));
    platform::setWindowIconFromBundle(*qApp, FolderBundle(bundle, info));
    EXPECT_EQ(!QApplication::windowIcon().isNull(), row.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BundleIcon,
    ::testing::Values(
        IconCase{"WideWithExtension", {96, 64}, "Lesson.icns", true, true},
        IconCase{"SquareWithoutExtension", {300, 300}, "Lesson", true, true},
        IconCase{"NotNamed", {64, 64}, nullptr, true, false},
        IconCase{"NamedButMissing", {64, 64}, "Other.icns", true, false},
        IconCase{"NotAPicture", {}, "Lesson.icns", false, false}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
