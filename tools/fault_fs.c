// A passthrough FUSE file system with planted faults, for trying the programs
// on a medium like ntfs-3g, exfat-fuse, MTP or sshfs by hand. Not part of any
// program. Build and mount (as root, libfuse3-dev installed):
//
//   gcc -O2 -o fault_fs tools/fault_fs.c $(pkg-config --cflags --libs fuse3)
//   PASS_FAIL_FSYNC=b.img ./fault_fs BACKING_FOLDER MOUNT_POINT -f &
//   ...; fusermount3 -u MOUNT_POINT
//
// PASS_FAIL_FSYNC=NAME: the fsync of that file fails (EIO).
// PASS_FAIL_FLUSH=NAME: the close of that file fails (EIO).
// PASS_HOLD=1: one-byte writes are kept in memory until the file's fsync, as a
//   network file system keeps them; PASS_CRASH_AT=NAME: the daemon dies at the
//   fsync of that file, losing what it holds.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse3/fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

enum { kMaxHeld = 100000, kPathMax = 4096 };

static const char* root;
static struct {
    char path[kPathMax];
    off_t offset;
    char byte;
    int live;
} held[kMaxHeld];
static int heldCount;

static void backing(char* out, const char* path) { snprintf(out, kPathMax, "%s%s", root, path); }

// Whether the environment variable env names the file at path.
static int named(const char* env, const char* path)
{
    const char* name = getenv(env);
    const char* slash = strrchr(path, '/');
    return name && slash && strcmp(name, slash + 1) == 0;
}

static int doGetattr(const char* path, struct stat* st, struct fuse_file_info* fi)
{
    (void)fi;
    char file[kPathMax];
    backing(file, path);
    return lstat(file, st) ? -errno : 0;
}

static int doReaddir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info* fi,
                     enum fuse_readdir_flags flags)
{
    (void)offset, (void)fi, (void)flags;
    char folder[kPathMax];
    backing(folder, path);
    DIR* dir = opendir(folder);
    if (!dir) {
        return -errno;
    }
    for (struct dirent* entry; (entry = readdir(dir));) {
        fill(buf, entry->d_name, NULL, 0, 0);
    }
    closedir(dir);
    return 0;
}

static int doOpen(const char* path, struct fuse_file_info* fi)
{
    char file[kPathMax];
    backing(file, path);
    const int fd = open(file, fi->flags & ~O_NONBLOCK);
    if (fd < 0) {
        return -errno;
    }
    fi->fh = (uint64_t)fd;
    return 0;
}

static int doRead(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi)
{
    const ssize_t got = pread((int)fi->fh, buf, size, offset);
    if (got < 0) {
        return -errno;
    }
    for (int i = 0; i < heldCount; ++i) {
        if (held[i].live && !strcmp(held[i].path, path) && held[i].offset >= offset && held[i].offset < offset + got) {
            buf[held[i].offset - offset] = held[i].byte;
        }
    }
    return (int)got;
}

static int doWrite(const char* path, const char* buf, size_t size, off_t offset, struct fuse_file_info* fi)
{
    if (getenv("PASS_HOLD") && size == 1 && heldCount < kMaxHeld) {
        snprintf(held[heldCount].path, kPathMax, "%s", path);
        held[heldCount].offset = offset;
        held[heldCount].byte = buf[0];
        held[heldCount++].live = 1;
        return 1;
    }
    const ssize_t put = pwrite((int)fi->fh, buf, size, offset);
    return put < 0 ? -errno : (int)put;
}

static int doFsync(const char* path, int datasync, struct fuse_file_info* fi)
{
    (void)datasync;
    if (named("PASS_CRASH_AT", path)) {
        _exit(1);
    }
    if (named("PASS_FAIL_FSYNC", path)) {
        return -EIO;
    }
    for (int i = 0; i < heldCount; ++i) {
        if (held[i].live && !strcmp(held[i].path, path)) {
            if (pwrite((int)fi->fh, &held[i].byte, 1, held[i].offset) != 1) {
                return -EIO;
            }
            held[i].live = 0;
        }
    }
    return fdatasync((int)fi->fh) ? -errno : 0;
}

static int doFlush(const char* path, struct fuse_file_info* fi)
{
    (void)fi;
    return named("PASS_FAIL_FLUSH", path) ? -EIO : 0;
}

static int doRelease(const char* path, struct fuse_file_info* fi)
{
    (void)path;
    close((int)fi->fh);
    return 0;
}

static int doStatfs(const char* path, struct statvfs* st)
{
    char file[kPathMax];
    backing(file, path);
    return statvfs(file, st) ? -errno : 0;
}

static int doTruncate(const char* path, off_t size, struct fuse_file_info* fi)
{
    (void)fi;
    char file[kPathMax];
    backing(file, path);
    return truncate(file, size) ? -errno : 0;
}

static const struct fuse_operations kOperations = {
    .getattr = doGetattr, .readdir = doReaddir, .open = doOpen,       .read = doRead,     .write = doWrite,
    .fsync = doFsync,     .flush = doFlush,     .release = doRelease, .statfs = doStatfs, .truncate = doTruncate,
};

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: fault_fs BACKING_FOLDER MOUNT_POINT [FUSE OPTIONS]\n");
        return 2;
    }
    root = realpath(argv[1], NULL);
    argv[1] = argv[0];
    return fuse_main(argc - 1, argv + 1, &kOperations, NULL);
}
