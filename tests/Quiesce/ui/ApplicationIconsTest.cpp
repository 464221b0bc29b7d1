// Application icons from real bundles: the .icns named by the bundle, the first one
// when it names none, and nothing for bundles without a readable icon.
#include "Holders.h"
#include "QtApplicationIcons.h"
#include "TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

using namespace quiesce_test;

namespace
{

struct NameCase {
    const char *name;
    const char *iconFile;
    const char *resource;
};

std::ostream &operator<<(std::ostream &os, const NameCase &c)
{
    return os << c.name << " (\"" << c.iconFile << "\")";
}

const NameCase kNameCases[] = {
    {"extension_removed", "AppIcon.icns", "AppIcon"},
    {"bare_name_kept", "AppIcon", "AppIcon"},
    {"other_extension_kept", "Logo.png", "Logo.png"},
    {"dots_inside_kept", "My.App.icns", "My.App"},
    {"hidden_file_kept", ".icns", ".icns"},
    {"no_dot_kept", "Appicns", "Appicns"},
    {"empty", "", ""},
};

class IconResourceNameTest : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(IconResourceNameTest, StripsOnlyTheIcnsExtension)
{
    const NameCase &c = GetParam();
    EXPECT_EQ(platform::QtApplicationIcons::iconResourceName(QString::fromUtf8(c.iconFile)),
              QString::fromUtf8(c.resource));
}

INSTANTIATE_TEST_SUITE_P(Icons, IconResourceNameTest, ::testing::ValuesIn(kNameCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The colour in the middle of the icon's largest image.
QRgb centreColour(const QIcon &icon)
{
    const QImage image = icon.pixmap(64, 64).toImage();
    return image.isNull() ? 0 : image.pixel(image.width() / 2, image.height() / 2) & 0xffffff;
}

struct BundleCase {
    const char *name;
    const char *iconFile; // CFBundleIconFile, "" for no key
    unsigned rgb;         // icon colour; 0 for no icon file at all
    bool found;
};

std::ostream &operator<<(std::ostream &os, const BundleCase &c)
{
    return os << c.name;
}

const BundleCase kBundleCases[] = {
    {"named_with_extension", "AppIcon.icns", 0x3366cc, true},
    {"named_without_extension", "AppIcon", 0xcc3333, true},
    {"unnamed_takes_first_icns", "", 0x33aa55, true},
    {"named_but_missing", "Missing", 0, false},
    {"no_icon_at_all", "", 0, false},
};

class BundleIconTest : public ::testing::TestWithParam<BundleCase>
{
};

TEST_P(BundleIconTest, ReadsTheBundlesIcns)
{
    const BundleCase &c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bundle = dir.filePath(QStringLiteral("Sample.app"));
    ASSERT_FALSE(makeApplicationBundle(bundle, QStringLiteral("Sample"),
                                       QString::fromUtf8(c.iconFile), c.rgb)
                     .isEmpty());
    const platform::QtApplicationIcons icons(QString{});
    const QIcon icon = icons.iconForBundle(bundle);
    EXPECT_EQ(!icon.isNull(), c.found);
    if (c.found) {
        EXPECT_EQ(centreColour(icon), c.rgb);
    }
}

INSTANTIATE_TEST_SUITE_P(Icons, BundleIconTest, ::testing::ValuesIn(kBundleCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ApplicationIcons, NoIconForWhatIsNoBundleOrNoImage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const platform::QtApplicationIcons icons(QString{});
    const QString bundle = dir.filePath(QStringLiteral("Broken.app"));
    ASSERT_FALSE(
        makeApplicationBundle(bundle, QStringLiteral("Broken"), QStringLiteral("AppIcon"), 0x3366cc)
            .isEmpty());
    ASSERT_FALSE(icons.iconForBundle(bundle).isNull()) << "positive control";

    ASSERT_TRUE(testfiles::write(bundle + QStringLiteral("/Contents/Resources/AppIcon.icns"),
                                 "not an image"));
    EXPECT_TRUE(icons.iconForBundle(bundle).isNull());
    EXPECT_TRUE(icons.iconForBundle(dir.filePath(QStringLiteral("Nowhere.app"))).isNull());
    EXPECT_TRUE(icons.iconForBundle(QString()).isNull());
}

TEST(ApplicationIcons, GenericIconFallsBackToTheShippedImage)
{
    const platform::QtApplicationIcons icons(QStringLiteral(QUIESCE_GENERIC_ICON));
    const QIcon generic = icons.genericApplicationIcon();
    ASSERT_FALSE(generic.isNull());
    EXPECT_FALSE(generic.pixmap(32, 32).isNull());
}

} // namespace
