// A model of a network share for the benchmark: serves a backing folder read-only, and every read
// request is answered a fixed time after it arrived (the round trip to the server), however many
// are waiting: several threads serve the requests, so requests in flight overlap as they do on a
// share. What a program gains there comes from keeping reads in flight, not from processors.
//
// Usage: share_model SOURCE MOUNTPOINT [-o delay_ms=2] [FUSE options, e.g. -f -o ro,max_threads=32]
#include "model_fs.h"

struct share_settings {
    double delay_ms;
};

static struct share_settings settings = {.delay_ms = 2.0};

static const struct fuse_opt share_options[] = {
    {"delay_ms=%lf", offsetof(struct share_settings, delay_ms), 0},
    FUSE_OPT_END,
};

static int share_read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* fi) {
    (void)path;
    // The answer is due a round trip after the request came, whatever the reading here costs.
    int64_t due = model_now() + (int64_t)(settings.delay_ms * 1e6);
    ssize_t got = pread(model_file_of(fi)->fd, buffer, size, offset);
    model_sleep_until(due);
    return got < 0 ? -errno : (int)got;
}

static const struct fuse_operations operations = MODEL_OPERATIONS(share_read);

int main(int argc, char* argv[]) {
    return model_main(argc, argv, share_options, &settings, &operations,
                      "usage: share_model SOURCE MOUNTPOINT [-o delay_ms=MS] [FUSE options]\n");
}
