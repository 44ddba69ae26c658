/* An LD_PRELOAD shim that follows one file's writes and syncs and every
   folder's syncs, for sync_watch_test.cpp. SONVALE_WATCH names the file,
   SONVALE_WATCH_LOG the log it appends lines to, each a time in
   nanoseconds and an event:
     open FD          the watched file was opened as FD
     folder FD PATH   a folder was opened
     end N            a write(2) to the file; it now ends at N
     header N         a write of the file's header declaring N data bytes
     sync FD          fsync or fdatasync of the file or of a folder
     mark             the program wrote "@mark" to its standard error */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int g_file = -1;
static int g_folders[64];
static int g_log = -1;

static ssize_t real_write(int fd, const void* p, size_t n) {
    static ssize_t (*f)(int, const void*, size_t);
    if (!f)
        f = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    return f(fd, p, n);
}

static void note(const char* format, ...) {
    char line[512];
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    int n = snprintf(line, sizeof line, "%lld ", (long long)t.tv_sec * 1000000000LL + t.tv_nsec);
    va_list args;
    va_start(args, format);
    n += vsnprintf(line + n, sizeof line - (size_t)n, format, args);
    va_end(args);
    if (g_log < 0) {
        const char* path = getenv("SONVALE_WATCH_LOG");
        int (*real_open)(const char*, int, ...) =
            (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
        g_log = path ? real_open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
    }
    if (g_log >= 0 && n < (int)sizeof line - 1) {
        line[n] = '\n';
        real_write(g_log, line, (size_t)n + 1);
    }
}

static int is_folder(int fd) {
    return fd >= 0 && fd < 64 && g_folders[fd];
}

static int opened(int fd, const char* path, int flags) {
    const char* watched = getenv("SONVALE_WATCH");
    if (fd >= 0 && watched && strcmp(path, watched) == 0) {
        g_file = fd;
        note("open %d", fd);
    } else if (fd >= 0 && fd < 64) {
        g_folders[fd] = (flags & O_DIRECTORY) != 0;
        if (g_folders[fd])
            note("folder %d %s", fd, path);
    }
    return fd;
}

int open(const char* path, int flags, ...) {
    static int (*f)(const char*, int, ...);
    if (!f)
        f = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
    va_end(args);
    return opened(f(path, flags, mode), path, flags);
}

static uint64_t le(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

ssize_t pwrite(int fd, const void* p, size_t n, off_t at) {
    static ssize_t (*f)(int, const void*, size_t, off_t);
    if (!f)
        f = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    const ssize_t done = f(fd, p, n, at);
    const unsigned char* h = p;
    if (fd == g_file && at == 0 && (done == 44 || done == 80))
        note("header %llu", (unsigned long long)(done == 44                  ? le(h + 40, 4)
                                                 : memcmp(h, "RF64", 4) == 0 ? le(h + 28, 8)
                                                                             : le(h + 76, 4)));
    return done;
}

ssize_t pwrite64(int fd, const void* p, size_t n, off_t at) {
    return pwrite(fd, p, n, at);
}

ssize_t write(int fd, const void* p, size_t n) {
    const ssize_t done = real_write(fd, p, n);
    if (fd == g_file && done > 0)
        note("end %lld", (long long)lseek(fd, 0, SEEK_CUR));
    if (fd == 2 && n >= 5 && memcmp(p, "@mark", 5) == 0)
        note("mark");
    return done;
}

static int synced(int fd, int rc) {
    if (rc == 0 && (fd == g_file || is_folder(fd)))
        note("sync %d", fd);
    return rc;
}

int fsync(int fd) {
    static int (*f)(int);
    if (!f)
        f = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    return synced(fd, f(fd));
}

int fdatasync(int fd) {
    static int (*f)(int);
    if (!f)
        f = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    return synced(fd, f(fd));
}
