#include "engine/filltarget.h"
#include "platform/errors.h"
#include "support/fakes.h"
#include "support/volumes.h"

#include <QFile>
#include <gtest/gtest.h>

// The fill keeps to the volume the user chose: if it goes away under its
// folder (unplugged, unmounted), nothing more is written through the folder,
// which now lies on another file system.
TEST(DiskFillTargetTest, StopsWhenTheVolumeLeavesItsFolder)
{
    VOLUME_OR_SKIP(vol, Tmpfs, 2);
    testsupport::EnvGuard env("ZARVEX_DRIVES", "c=/;t=" + vol.folder());
    platform::LinuxDriveServices drives;
    engine::DiskFillTarget target(drives, "t: [" + vol.folder() + "]");
    EXPECT_EQ(target.folder(), vol.folder());
    target.create("t:\\tmptxt1.txt")->close();
    EXPECT_TRUE(target.exists("t:\\tmptxt1.txt"));
    target.remove("t:\\tmptxt1.txt");

    ASSERT_TRUE(vol.unmount());
    try {
        target.create("t:\\tmptxt1.txt");
        FAIL() << "wrote through a folder that no longer holds the volume";
    } catch (const platform::RunTimeError& e) {
        EXPECT_EQ(e.number(), platform::ErrDeviceUnavailable);
    }
    EXPECT_THROW(target.freeBytes(), platform::RunTimeError);
    EXPECT_FALSE(QFile::exists(vol.folder() + "/tmptxt1.txt"));
}
