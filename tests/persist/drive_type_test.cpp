// Drive type from mountinfo: the longest mount point holding the path, file-system types to
// drive types, removable disks through the lookup, and the root text.

#include "platform/drive_type.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace {

// Optional fields vary in number; a space in a mount point is written \040.
const char* const kMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
    "23 22 0:21 / /tmp rw,nosuid shared:2 master:1 - tmpfs tmpfs rw\n"
    "24 22 8:17 / /media/usb rw,nosuid - vfat /dev/sdb1 rw\n"
    "25 22 0:45 / /mnt/share rw - cifs //srv/share rw,vers=3.0\n"
    "26 22 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
    "27 22 0:50 / /mnt/nfs rw - nfs4 srv:/export rw\n"
    "28 22 8:33 / /media/my\\040stick rw - exfat /dev/sdc1 rw\n"
    "29 24 0:60 / /media/usb/inner rw - ramfs ramfs rw\n"
    "30 22 0:61 / /net/ssh rw - fuse.sshfs u@h:/ rw\n"
    "31 22 8:2 / /data rw - ext4 /dev/sda2 rw\n"
    "32 31 0:70 / /data rw - tmpfs tmpfs rw\n"  // mounted over the disk: the later one counts
    "33 22 11:1 / /media/dvd ro - udf /dev/sr1 ro\n"
    "34 22 0:80 / /mnt/9 rw - 9p host rw\n"
    "garbage line\n"
    "35 22 x:y / /broken rw - ext4 /dev/sdz rw\n"
    "36 22 8:49 / /media/nosep rw vfat /dev/sdd1 rw\n";

bool removable(unsigned major, unsigned minor) {
  return major == 8 && (minor == 17 || minor == 33 || minor == 49);
}

TEST(DriveTypeTest, MountsDecide) {
  struct Case {
    const char* path;
    DriveType type;
    const char* root;
  };
  const Case cases[] = {
      {"/home/u/QZ418.ini", DriveType::Fixed, "/"},
      {"/", DriveType::Fixed, "/"},
      {"/tmp/QZ418.ini", DriveType::RamDisk, "/tmp/"},
      {"/tmp", DriveType::RamDisk, "/tmp/"},
      {"/tmpfoo/QZ418.ini", DriveType::Fixed, "/"},  // a prefix of the name is no mount point
      {"/media/usb/QZ418.ini", DriveType::Removable, "/media/usb/"},
      {"/media/usb/inner/a.ini", DriveType::RamDisk, "/media/usb/inner/"},
      {"/mnt/share/a/b.ini", DriveType::Remote, "/mnt/share/"},
      {"/mnt/nfs/a.ini", DriveType::Remote, "/mnt/nfs/"},
      {"/net/ssh/a.ini", DriveType::Remote, "/net/ssh/"},
      {"/mnt/9/a.ini", DriveType::Remote, "/mnt/9/"},
      {"/media/cdrom/QZ418.ini", DriveType::CdRom, "/media/cdrom/"},
      {"/media/dvd/QZ418.ini", DriveType::CdRom, "/media/dvd/"},
      {"/media/my stick/QZ418.ini", DriveType::Removable, "/media/my stick/"},
      {"/data/x", DriveType::RamDisk, "/data/"},
      {"/broken/x", DriveType::Fixed, "/"},
      {"/media/nosep/x", DriveType::Fixed, "/"},
  };
  for (const Case& c : cases) {
    const DriveInfo d = driveOf(QString::fromUtf8(c.path), QString::fromUtf8(kMountInfo), removable);
    EXPECT_EQ(d.type, c.type) << c.path;
    EXPECT_EQ(d.root, QString::fromUtf8(c.root)) << c.path;
  }
}

TEST(DriveTypeTest, NothingToGoBy) {
  EXPECT_EQ(driveOf(QString(), u"", removable).type, DriveType::NoRootDir);
  EXPECT_EQ(driveOf("/a", u"", removable).type, DriveType::Unknown);
  EXPECT_EQ(driveOf("/a", u"not a mount table\n\n", removable).type, DriveType::Unknown);
  // Without a lookup a disk counts as fixed.
  EXPECT_EQ(driveOf("/media/usb/a", QString::fromUtf8(kMountInfo), nullptr).type, DriveType::Fixed);
  EXPECT_EQ(driveOf(QString()).type, DriveType::NoRootDir);
}

TEST(DriveTypeTest, ThisMachine) {
  // Whatever the machine is, a file in a temporary folder lies on a mount that holds it,
  // and a file not yet written counts with its folder.
  QTemporaryDir dir;
  const QString path = dir.filePath("not/yet/QZ418.ini");
  const DriveInfo d = driveOf(path);
  EXPECT_NE(d.type, DriveType::Unknown);
  EXPECT_NE(d.type, DriveType::NoRootDir);
  EXPECT_TRUE(d.root.endsWith(u'/'));
  EXPECT_TRUE(QDir(dir.path()).canonicalPath().startsWith(d.root) || d.root == "/") << d.root.toStdString();
  EXPECT_EQ(driveOf("/proc/self/status").root, "/proc/");
}

}  // namespace
