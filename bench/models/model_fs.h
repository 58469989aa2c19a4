// What both models of slow media share: a read-only passthrough of a backing folder through FUSE,
// mounted direct_io so that every read reaches the model (the page cache would hide the medium),
// and the command line: SOURCE MOUNTPOINT [-o model options] [FUSE options]. Each model supplies
// its own read; listings, sizes and opens are served at once, because under Wine the server opens
// every file itself and a slow open would hold up every program of the prefix rather than show
// how the program under test reads.
#ifndef QVB_BENCH_MODEL_FS_H
#define QVB_BENCH_MODEL_FS_H

#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static char model_source[PATH_MAX];

static void model_path(char* out, const char* path) { snprintf(out, PATH_MAX, "%s%s", model_source, path); }

// An open file of the backing folder, with its inode, so that a model can tell one file from
// another without looking at paths.
struct model_file {
    int fd;
    ino_t inode;
};

static struct model_file* model_file_of(struct fuse_file_info* fi) { return (struct model_file*)(uintptr_t)fi->fh; }

static void* model_init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
    (void)conn;
    cfg->direct_io = 1;
    cfg->kernel_cache = 0;
    cfg->attr_timeout = 0;
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    return NULL;
}

static int model_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    char real[PATH_MAX];
    model_path(real, path);
    return lstat(real, st) == 0 ? 0 : -errno;
}

static int model_opendir(const char* path, struct fuse_file_info* fi) {
    char real[PATH_MAX];
    model_path(real, path);
    DIR* dir = opendir(real);
    if (!dir) return -errno;
    fi->fh = (uint64_t)(uintptr_t)dir;
    return 0;
}

static int model_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info* fi,
                         enum fuse_readdir_flags flags) {
    (void)path, (void)offset, (void)flags;
    DIR* dir = (DIR*)(uintptr_t)fi->fh;
    rewinddir(dir);
    for (struct dirent* entry; (entry = readdir(dir)) != NULL;) {
        struct stat st = {0};
        st.st_ino = entry->d_ino;
        st.st_mode = (mode_t)DTTOIF(entry->d_type);
        if (fill(buffer, entry->d_name, &st, 0, 0)) break;
    }
    return 0;
}

static int model_releasedir(const char* path, struct fuse_file_info* fi) {
    (void)path;
    closedir((DIR*)(uintptr_t)fi->fh);
    return 0;
}

static int model_open(const char* path, struct fuse_file_info* fi) {
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    char real[PATH_MAX];
    model_path(real, path);
    struct model_file* file = malloc(sizeof *file);
    if (!file) return -ENOMEM;
    struct stat st;
    file->fd = open(real, O_RDONLY);
    if (file->fd < 0 || fstat(file->fd, &st) != 0) {
        int error = errno;
        if (file->fd >= 0) close(file->fd);
        free(file);
        return -error;
    }
    file->inode = st.st_ino;
    fi->fh = (uint64_t)(uintptr_t)file;
    fi->direct_io = 1;
    return 0;
}

static int model_release(const char* path, struct fuse_file_info* fi) {
    (void)path;
    struct model_file* file = model_file_of(fi);
    close(file->fd);
    free(file);
    return 0;
}

static int model_statfs(const char* path, struct statvfs* st) {
    (void)path;
    return statvfs(model_source, st) == 0 ? 0 : -errno;
}

// The operations of a model whose reads are `reader`.
#define MODEL_OPERATIONS(reader)                                                                               \
    {                                                                                                        \
        .getattr = model_getattr, .open = model_open, .read = (reader), .release = model_release,            \
        .statfs = model_statfs, .opendir = model_opendir, .readdir = model_readdir,                          \
        .releasedir = model_releasedir, .init = model_init,                                                  \
    }

// Monotonic time in nanoseconds, and a sleep until such a time: sleeping to a deadline rather than
// for a length keeps the model's own work out of the time it charges.
static int64_t model_now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void model_sleep_until(int64_t deadline) {
    struct timespec t = {.tv_sec = deadline / 1000000000, .tv_nsec = deadline % 1000000000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, NULL) == EINTR) {
    }
}

// The first argument that is no option is the backing folder; the rest goes to FUSE.
static int model_take_source(void* data, const char* arg, int key, struct fuse_args* args) {
    (void)data, (void)args;
    if (key == FUSE_OPT_KEY_NONOPT && model_source[0] == 0) {
        if (!realpath(arg, model_source)) {
            perror(arg);
            exit(2);
        }
        return 0;
    }
    return 1;
}

// Parses the model's own options into `settings`, then runs FUSE with what is left.
static int model_main(int argc, char* argv[], const struct fuse_opt* options, void* settings,
                      const struct fuse_operations* operations, const char* usage) {
    struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, settings, options, model_take_source) != 0 || model_source[0] == 0) {
        fprintf(stderr, "%s", usage);
        return 2;
    }
    int status = fuse_main(args.argc, args.argv, operations, NULL);
    fuse_opt_free_args(&args);
    return status;
}

#endif
