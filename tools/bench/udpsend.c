/* The benchmark's paced sender (tools/bench/relaybench.py), native and light
 * so that it does not compete with the relay for the processor: it sleeps
 * until each tick (1 ms by default) and sends every datagram due by then in
 * one sendmmsg call. Datagrams carry the labtraffic header (magic "LTRF",
 * sequence, host tag, CLOCK_MONOTONIC ns at sending, all big-endian), then
 * zeros, round-robin over the six host channels: host h to 239.2.2.(h+1)
 * port 7000+h, tag run*8+h. Prints a JSON summary as relaybench's Python
 * sender does.
 *
 *   udpsend RATE DURATION_S RUN SIZE START_NS IFACE [TICK_US]
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { HOSTS = 6, MAX_SIZE = 1472, BATCH = 1024 };

static int64_t now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void sleep_until(int64_t ns) {
    struct timespec t = {ns / 1000000000, ns % 1000000000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, NULL) == EINTR)
        ;
}

static void put32(unsigned char* p, uint32_t v) {
    v = htonl(v);
    memcpy(p, &v, 4);
}

static void put64(unsigned char* p, uint64_t v) {
    put32(p, (uint32_t)(v >> 32));
    put32(p + 4, (uint32_t)v);
}

static unsigned char bufs[BATCH][MAX_SIZE];
static struct iovec iovs[BATCH];
static struct mmsghdr msgs[BATCH];

int main(int argc, char** argv) {
    if (argc < 7) {
        fprintf(stderr, "usage: udpsend RATE DURATION_S RUN SIZE START_NS IFACE [TICK_US]\n");
        return 2;
    }
    const double rate = atof(argv[1]);
    const double duration = atof(argv[2]);
    const unsigned run = (unsigned)atoi(argv[3]);
    const int size = atoi(argv[4]);
    int64_t start = atoll(argv[5]);
    const char* iface = argv[6];
    const int64_t tick = (argc > 7 ? atoll(argv[7]) : 1000) * 1000;
    if (rate <= 0 || duration <= 0 || size < 20 || size > MAX_SIZE || tick <= 0) {
        fprintf(stderr, "udpsend: bad arguments\n");
        return 2;
    }
    const int s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    const int ttl = 1, loop = 0, sndbuf = 1 << 22;
    struct in_addr out;
    inet_aton(iface, &out);
    if (s < 0 || setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) < 0 ||
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) < 0 ||
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out) < 0) {
        perror("udpsend: socket");
        return 1;
    }
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    struct sockaddr_in to[HOSTS];
    for (int h = 0; h < HOSTS; ++h) {
        char group[16];
        snprintf(group, sizeof group, "239.2.2.%d", h + 1);
        memset(&to[h], 0, sizeof to[h]);
        to[h].sin_family = AF_INET;
        to[h].sin_port = htons((uint16_t)(7000 + h));
        inet_aton(group, &to[h].sin_addr);
    }
    for (int k = 0; k < BATCH; ++k) {
        memcpy(bufs[k], "LTRF", 4);
        iovs[k].iov_base = bufs[k];
        iovs[k].iov_len = (size_t)size;
        msgs[k].msg_hdr.msg_iov = &iovs[k];
        msgs[k].msg_hdr.msg_iovlen = 1;
        msgs[k].msg_hdr.msg_namelen = sizeof(struct sockaddr_in);
    }
    if (start == 0)
        start = now_ns() + 20000000;
    const uint64_t total = (uint64_t)(rate * duration);
    uint64_t next = 0, sent = 0, errors = 0;
    int64_t first = 0, last = 0, max_lag = 0;
    for (int64_t t = start; next < total; t += tick) {
        sleep_until(t);
        const int64_t woke = now_ns();
        if (woke - t > max_lag)
            max_lag = woke - t;
        /* Every datagram whose time i/rate has come by this tick. */
        uint64_t due = (uint64_t)((double)(woke - start) * rate / 1e9) + 1;
        if (due > total)
            due = total;
        while (next < due) {
            int n = 0;
            const int64_t stamp = now_ns();
            for (; n < BATCH && next + (uint64_t)n < due; ++n) {
                const uint64_t i = next + (uint64_t)n;
                const int h = (int)(i % HOSTS);
                put32(bufs[n] + 4, (uint32_t)i);
                put32(bufs[n] + 8, run * 8 + (uint32_t)h);
                put64(bufs[n] + 12, (uint64_t)stamp);
                msgs[n].msg_hdr.msg_name = &to[h];
            }
            int done = sendmmsg(s, msgs, (unsigned)n, 0);
            if (done <= 0) { /* this batch's first datagram failed; the rest are tried again */
                done = 1;
                ++errors;
            } else {
                sent += (uint64_t)done;
            }
            if (first == 0)
                first = stamp;
            last = stamp;
            next += (uint64_t)done;
        }
    }
    struct rusage use; /* what the sender itself took of the processor */
    getrusage(RUSAGE_SELF, &use);
    const double cpu =
        use.ru_utime.tv_sec + use.ru_stime.tv_sec + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    printf("{\"sent\": %llu, \"errors\": %llu, \"span_s\": %.6f, \"first_ns\": %lld, \"last_ns\": %lld, "
           "\"max_lag_ms\": %.3f, \"cpu_s\": %.3f, \"failed\": []}\n",
           (unsigned long long)sent, (unsigned long long)errors, sent > 1 ? (last - first) / 1e9 : 0.0,
           (long long)first, (long long)last, max_lag / 1e6, cpu);
    return 0;
}
