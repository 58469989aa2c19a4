// A model of a hard disk for the benchmark: serves a backing folder read-only through one head.
// Requests are served one at a time; a request that does not begin where the last one ended (in
// the same file) first costs a seek, and its bytes then pass at the disk's rate. So reading two
// files on the disk in turn pays a seek at every change of file, and reading one whole, then the
// other, pays almost none: the model's limit is every byte once without a seek.
//
// Usage: disk_model SOURCE MOUNTPOINT [-o seek_ms=8,rate_mbs=150] [FUSE options]
// (rate_mbs in MB/s of 1,000,000 bytes)
#include <pthread.h>

#include "model_fs.h"

struct disk_settings {
    double seek_ms;
    double rate_mbs;
};

static struct disk_settings settings = {.seek_ms = 8.0, .rate_mbs = 150.0};

static const struct fuse_opt disk_options[] = {
    {"seek_ms=%lf", offsetof(struct disk_settings, seek_ms), 0},
    {"rate_mbs=%lf", offsetof(struct disk_settings, rate_mbs), 0},
    FUSE_OPT_END,
};

// Where the head is: after the last byte of the last request, in the file it read.
static pthread_mutex_t head = PTHREAD_MUTEX_INITIALIZER;
static ino_t head_inode;
static off_t head_offset = -1;

static int disk_read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* fi) {
    (void)path;
    struct model_file* file = model_file_of(fi);
    pthread_mutex_lock(&head);
    int64_t start = model_now();
    ssize_t got = pread(file->fd, buffer, size, offset);
    int error = errno;
    double cost_ns = 0;
    if (file->inode != head_inode || offset != head_offset) cost_ns += settings.seek_ms * 1e6;
    if (got > 0) cost_ns += (double)got * 1e3 / settings.rate_mbs;
    head_inode = file->inode;
    head_offset = offset + (got > 0 ? got : 0);
    model_sleep_until(start + (int64_t)cost_ns);
    pthread_mutex_unlock(&head);
    return got < 0 ? -error : (int)got;
}

static const struct fuse_operations operations = MODEL_OPERATIONS(disk_read);

int main(int argc, char* argv[]) {
    return model_main(argc, argv, disk_options, &settings, &operations,
                      "usage: disk_model SOURCE MOUNTPOINT [-o seek_ms=MS,rate_mbs=MBS] [FUSE options]\n");
}
