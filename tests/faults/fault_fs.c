// A read-only FUSE file system that serves a folder and fails where a rules file says, so that
// qvb.exe meets real kernel read errors under Wine.
//
// Usage: fault_fs SOURCE RULES MOUNTPOINT [FUSE options]
//
// RULES holds one rule a line (paths from the mount's root, sizes in bytes, # starts a comment):
//   fail PATH BEGIN END ERRNO [TIMES]  reads of PATH that overlap [BEGIN, END) fail with ERRNO
//                                      (EIO, ETIME, EACCES, ... or a number); with TIMES only the
//                                      first TIMES of them, after which the range heals
//   short PATH BYTES                   every read of PATH returns at most BYTES
//   nolist PATH ERRNO                  opening the folder PATH for a listing fails with ERRNO
//   hang PATH SECONDS                  reads of the file PATH, or listings of the folder PATH,
//                                      answer after SECONDS, or at once with EINTR when the caller
//                                      is interrupted (its process ends); each hang is told on
//                                      standard error as "hang: PATH". Only a mount without -s
//                                      (a thread per request) learns of the interruption.
// The file is read again whenever it is replaced (write a new one and rename it over the old), and
// the counts of TIMES start afresh then. Every read reaches this program: the mount is direct_io,
// so no page cache hides a fault.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <pthread.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kMostRules = 64 };

struct rule {
    enum { FAIL, SHORT, NOLIST, HANG } kind;
    char path[PATH_MAX];
    long long begin, end;
    int error;
    long long times;  // FAIL: failures left, -1 for always
    long long most;   // SHORT: bytes a read returns at most; HANG: seconds
};

// The rules and their counts, for a mount with a thread per request.
static pthread_mutex_t rules_lock = PTHREAD_MUTEX_INITIALIZER;

static char source[PATH_MAX];
static char rules_path[PATH_MAX];
static struct rule rules[kMostRules];
static int rule_count;
static ino_t rules_inode;
static struct timespec rules_time;

static int error_number(const char* name) {
    static const struct {
        const char* name;
        int value;
    } names[] = {{"EIO", EIO},         {"ETIME", ETIME},         {"EACCES", EACCES}, {"ENOMEDIUM", ENOMEDIUM},
                 {"ENXIO", ENXIO},     {"EOPNOTSUPP", EOPNOTSUPP}, {"EPERM", EPERM},   {"ENOENT", ENOENT},
                 {"ETIMEDOUT", ETIMEDOUT}};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        if (strcmp(name, names[i].name) == 0) return names[i].value;
    }
    int value = atoi(name);
    return value > 0 ? value : EIO;
}

// Takes the rules anew when the file was replaced since the last look; keeps the old ones while
// it cannot be read, so that a rename in progress changes nothing.
static void refresh_rules(void) {
    struct stat st;
    if (stat(rules_path, &st) != 0) return;
    if (st.st_ino == rules_inode && st.st_mtim.tv_sec == rules_time.tv_sec &&
        st.st_mtim.tv_nsec == rules_time.tv_nsec) {
        return;
    }
    FILE* file = fopen(rules_path, "r");
    if (!file) return;
    rules_inode = st.st_ino;
    rules_time = st.st_mtim;
    rule_count = 0;
    char line[PATH_MAX + 128];
    while (fgets(line, sizeof line, file) && rule_count < kMostRules) {
        struct rule r = {0};
        char kind[16], error[32];
        long long times = -1;
        int fields = sscanf(line, "%15s", kind);
        if (fields != 1 || kind[0] == '#') continue;
        if (strcmp(kind, "fail") == 0 &&
            sscanf(line, "%*s %4095s %lld %lld %31s %lld", r.path, &r.begin, &r.end, error, &times) >= 4) {
            r.kind = FAIL;
            r.error = error_number(error);
            r.times = times;
        } else if (strcmp(kind, "short") == 0 && sscanf(line, "%*s %4095s %lld", r.path, &r.most) == 2) {
            r.kind = SHORT;
        } else if (strcmp(kind, "hang") == 0 && sscanf(line, "%*s %4095s %lld", r.path, &r.most) == 2) {
            r.kind = HANG;
        } else if (strcmp(kind, "nolist") == 0 && sscanf(line, "%*s %4095s %31s", r.path, error) == 2) {
            r.kind = NOLIST;
            r.error = error_number(error);
        } else {
            fprintf(stderr, "fault_fs: rule not understood: %s", line);
            continue;
        }
        rules[rule_count++] = r;
    }
    fclose(file);
}

// Holds the request as long as a hang rule for `path` says, in steps short enough to notice an
// interruption, which the kernel sends when the caller gives up or its process ends.
static int hang_for(const char* path) {
    long long seconds = 0;
    pthread_mutex_lock(&rules_lock);
    refresh_rules();
    for (int i = 0; i < rule_count; ++i) {
        if (rules[i].kind == HANG && strcmp(rules[i].path, path) == 0) seconds = rules[i].most;
    }
    pthread_mutex_unlock(&rules_lock);
    if (seconds == 0) return 0;
    fprintf(stderr, "hang: %s\n", path);
    for (long long step = 0; step < seconds * 20; ++step) {
        if (fuse_interrupted()) return -EINTR;
        usleep(50000);
    }
    return 0;
}

static void source_path(char* out, const char* path) { snprintf(out, PATH_MAX, "%s%s", source, path); }

static void* fs_init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
    (void)conn;
    cfg->direct_io = 1;
    cfg->kernel_cache = 0;
    cfg->attr_timeout = 0;
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    return NULL;
}

static int fs_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    char real[PATH_MAX];
    source_path(real, path);
    return lstat(real, st) == 0 ? 0 : -errno;
}

static int fs_opendir(const char* path, struct fuse_file_info* fi) {
    int error = 0;
    pthread_mutex_lock(&rules_lock);
    refresh_rules();
    for (int i = 0; i < rule_count; ++i) {
        if (rules[i].kind == NOLIST && strcmp(rules[i].path, path) == 0) error = rules[i].error;
    }
    pthread_mutex_unlock(&rules_lock);
    if (error != 0) return -error;
    char real[PATH_MAX];
    source_path(real, path);
    DIR* dir = opendir(real);
    if (!dir) return -errno;
    fi->fh = (uint64_t)(uintptr_t)dir;
    return 0;
}

static int fs_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info* fi,
                      enum fuse_readdir_flags flags) {
    (void)offset, (void)flags;
    int held = hang_for(path);
    if (held != 0) return held;
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

static int fs_releasedir(const char* path, struct fuse_file_info* fi) {
    (void)path;
    closedir((DIR*)(uintptr_t)fi->fh);
    return 0;
}

static int fs_open(const char* path, struct fuse_file_info* fi) {
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    char real[PATH_MAX];
    source_path(real, path);
    int fd = open(real, O_RDONLY);
    if (fd < 0) return -errno;
    fi->fh = (uint64_t)fd;
    fi->direct_io = 1;
    return 0;
}

static int fs_read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* fi) {
    int held = hang_for(path);
    if (held != 0) return held;
    int error = 0;
    pthread_mutex_lock(&rules_lock);
    for (int i = 0; i < rule_count && error == 0; ++i) {
        struct rule* r = &rules[i];
        if (strcmp(r->path, path) != 0) continue;
        if (r->kind == SHORT && (long long)size > r->most) size = (size_t)r->most;
        bool overlaps = offset < r->end && offset + (off_t)size > r->begin;
        if (r->kind == FAIL && overlaps && r->times != 0) {
            if (r->times > 0) --r->times;
            error = r->error;
        }
    }
    pthread_mutex_unlock(&rules_lock);
    if (error != 0) return -error;
    ssize_t got = pread((int)fi->fh, buffer, size, offset);
    return got < 0 ? -errno : (int)got;
}

static int fs_release(const char* path, struct fuse_file_info* fi) {
    (void)path;
    close((int)fi->fh);
    return 0;
}

static int fs_statfs(const char* path, struct statvfs* st) {
    (void)path;
    return statvfs(source, st) == 0 ? 0 : -errno;
}

static const struct fuse_operations operations = {
    .getattr = fs_getattr,
    .open = fs_open,
    .read = fs_read,
    .release = fs_release,
    .statfs = fs_statfs,
    .opendir = fs_opendir,
    .readdir = fs_readdir,
    .releasedir = fs_releasedir,
    .init = fs_init,
};

int main(int argc, char* argv[]) {
    if (argc < 4) {
        fprintf(stderr, "usage: fault_fs SOURCE RULES MOUNTPOINT [FUSE options]\n");
        return 2;
    }
    if (!realpath(argv[1], source) || !realpath(argv[2], rules_path)) {
        perror("fault_fs");
        return 2;
    }
    refresh_rules();
    // FUSE takes the mount point and its options; the two paths of ours go first.
    argv[2] = argv[0];
    return fuse_main(argc - 2, argv + 2, &operations, NULL);
}
