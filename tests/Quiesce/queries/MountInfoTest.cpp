// /proc/<pid>/mountinfo lines as the kernel writes them.
#include "MountInfo.h"

#include <gtest/gtest.h>

using platform::mountinfo::Mount;

namespace
{

TEST(MountInfo, ReadsMountPointDeviceTypeSourceAndWritability)
{
    const QByteArray text =
        "26 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
        "40 26 8:17 / /media/My\\040Disk ro,nosuid master:7 - vfat /dev/sdb1 ro\n"
        "21 26 0:20 / /proc rw,relatime - proc proc rw\n";
    const QList<Mount> mounts = platform::mountinfo::parse(text);
    ASSERT_EQ(mounts.size(), 3);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].device, "8:1");
    EXPECT_EQ(mounts[0].fileSystem, "ext4");
    EXPECT_EQ(mounts[0].source, "/dev/sda1");
    EXPECT_FALSE(mounts[0].readOnly);
    EXPECT_EQ(mounts[1].mountPoint, "/media/My Disk");
    EXPECT_TRUE(mounts[1].readOnly);
    EXPECT_TRUE(platform::mountinfo::isLocal(mounts[0]));
    EXPECT_TRUE(platform::mountinfo::isLocal(mounts[1]));
    EXPECT_FALSE(platform::mountinfo::isLocal(mounts[2]));
}

TEST(MountInfo, SkipsMalformedLines)
{
    const QByteArray good = "26 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
    ASSERT_EQ(platform::mountinfo::parse(good).size(), 1);
    EXPECT_TRUE(platform::mountinfo::parse("26 1 8:1 / / rw ext4 /dev/sda1 rw\n").isEmpty());
    EXPECT_TRUE(platform::mountinfo::parse("26 1 8:1 / / rw - ext4\n").isEmpty());
    EXPECT_TRUE(platform::mountinfo::parse("\n\n").isEmpty());
}

} // namespace
