// The floor of the event-to-action latency: a receiver that only polls,
// receives and time-stamps each frame, with nothing of a server around it.
//
//     latency_floor FD COUNT
//
// Accepts one client on the listening socket FD (inherited), reads until
// the client closes, and prints one line per frame: the number the frame
// carries (id * 256 + direction) and the CLOCK_MONOTONIC nanoseconds of
// the read that completed it.
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

// [id, {"DirectionalButton": [direction]}] up to the direction's marker.
static const char name[] = "\xb1" "DirectionalButton";

// A MessagePack unsigned integer below 256: its value and the bytes it
// takes, 0 when incomplete, -1 when it is something else.
static int read_u8(const unsigned char *p, size_t n, long *value) {
    if (n < 1) return 0;
    if (p[0] < 0x80) { *value = p[0]; return 1; }
    if (p[0] != 0xcc) return -1;
    if (n < 2) return 0;
    *value = p[1];
    return 2;
}

// The length of the frame at p, 0 when incomplete, -1 when malformed.
static long frame_length(const unsigned char *p, size_t n, long *number) {
    long id, direction;
    if (n < 1) return 0;
    if (p[0] != 0x92) return -1;
    int used = read_u8(p + 1, n - 1, &id);
    if (used <= 0) return used;
    size_t at = 1 + (size_t)used, middle = 2 + sizeof name - 1;
    if (n < at + middle) return 0;
    if (p[at] != 0x81 || memcmp(p + at + 1, name, sizeof name - 1) != 0 ||
        p[at + middle - 1] != 0x91)
        return -1;
    at += middle;
    used = read_u8(p + at, n - at, &direction);
    if (used <= 0) return used;
    *number = id * 256 + direction;
    return (long)at + used;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: latency_floor FD COUNT\n");
        return 2;
    }
    const long count = atol(argv[2]);
    long *numbers = calloc((size_t)count, sizeof *numbers);
    int64_t *stamps = calloc((size_t)count, sizeof *stamps);
    int conn = accept(atoi(argv[1]), NULL, NULL);
    if (conn < 0 || !numbers || !stamps) {
        perror("latency_floor");
        return 1;
    }
    unsigned char buffer[65536];
    size_t pending = 0;
    long frames = 0;
    for (;;) {
        struct pollfd entry = {conn, POLLIN, 0};
        if (poll(&entry, 1, -1) < 0) { perror("poll"); return 1; }
        ssize_t got = recv(conn, buffer + pending, sizeof buffer - pending, 0);
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (got < 0) { perror("recv"); return 1; }
        if (got == 0) break;
        pending += (size_t)got;
        size_t at = 0;
        long length, number;
        while ((length = frame_length(buffer + at, pending - at, &number)) > 0) {
            if (frames == count) { fprintf(stderr, "more than %ld frames\n", count); return 1; }
            numbers[frames] = number;
            stamps[frames++] = (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
            at += (size_t)length;
        }
        if (length < 0) { fprintf(stderr, "not a DirectionalButton frame\n"); return 1; }
        memmove(buffer, buffer + at, pending - at);
        pending -= at;
    }
    for (long i = 0; i < frames; i++) printf("%ld %lld\n", numbers[i], (long long)stamps[i]);
    return 0;
}
