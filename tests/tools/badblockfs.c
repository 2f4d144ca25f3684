// A file system for the tests with one file, "disk", whose bytes are those
// of a backing file, except that any read or write touching one of the
// chosen ranges fails with EIO, as a disk's unreadable sectors do. A loop
// device over "disk" is then a disk with bad sectors (this kernel has no
// device-mapper to make one).
//
//   badblockfs BACKING MOUNTPOINT START:LENGTH[,START:LENGTH...]
//
// It mounts, then goes into the background; unmounting ends it.
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kMaxRanges = 32 };
static int backing = -1;
static off_t size;
static struct { off_t start, end; } bad[kMaxRanges];
static int badCount;

static int touchesBad(off_t offset, size_t length)
{
    for (int i = 0; i < badCount; ++i)
        if (offset < bad[i].end && offset + (off_t)length > bad[i].start)
            return 1;
    return 0;
}

static int isDisk(const char* path)
{
    return strcmp(path, "/disk") == 0;
}

static int getAttr(const char* path, struct stat* st, struct fuse_file_info* fi)
{
    (void)fi;
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    if (!isDisk(path))
        return -ENOENT;
    st->st_mode = S_IFREG | 0600;
    st->st_nlink = 1;
    st->st_size = size;
    return 0;
}

static int readDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info* fi,
                   enum fuse_readdir_flags flags)
{
    (void)offset, (void)fi, (void)flags;
    if (strcmp(path, "/") != 0)
        return -ENOENT;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    fill(buf, "disk", NULL, 0, 0);
    return 0;
}

static int openFile(const char* path, struct fuse_file_info* fi)
{
    if (!isDisk(path))
        return -ENOENT;
    fi->direct_io = 1; // every request reaches here: a failed write fails its writer
    return 0;
}

static int readFile(const char* path, char* buf, size_t length, off_t offset, struct fuse_file_info* fi)
{
    (void)path, (void)fi;
    if (touchesBad(offset, length))
        return -EIO;
    const ssize_t n = pread(backing, buf, length, offset);
    return n < 0 ? -errno : (int)n;
}

static int writeFile(const char* path, const char* buf, size_t length, off_t offset, struct fuse_file_info* fi)
{
    (void)path, (void)fi;
    if (touchesBad(offset, length))
        return -EIO;
    const ssize_t n = pwrite(backing, buf, length, offset);
    return n < 0 ? -errno : (int)n;
}

static int syncFile(const char* path, int dataOnly, struct fuse_file_info* fi)
{
    (void)path, (void)dataOnly, (void)fi;
    return fdatasync(backing) == 0 ? 0 : -errno;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s BACKING MOUNTPOINT START:LENGTH[,START:LENGTH...]\n", argv[0]);
        return 2;
    }
    backing = open(argv[1], O_RDWR | O_CLOEXEC);
    struct stat st;
    if (backing < 0 || fstat(backing, &st) != 0) {
        perror(argv[1]);
        return 1;
    }
    size = st.st_size;
    for (char* range = strtok(argv[3], ","); range && badCount < kMaxRanges; range = strtok(NULL, ",")) {
        long long start = 0, length = 0;
        if (sscanf(range, "%lld:%lld", &start, &length) != 2 || start < 0 || length <= 0) {
            fprintf(stderr, "bad range: %s\n", range);
            return 2;
        }
        bad[badCount].start = start;
        bad[badCount++].end = start + length;
    }
    static const struct fuse_operations ops = {
        .getattr = getAttr,
        .open = openFile,
        .read = readFile,
        .write = writeFile,
        .fsync = syncFile,
        .readdir = readDir,
    };
    char* args[] = {argv[0], argv[2], "-s", "-o", "fsname=badblockfs", NULL};
    return fuse_main(5, args, &ops, NULL);
}
