#pragma once
// Runs a piece of work in a forked child so that its peak resident memory is
// its own: the peak (VmHWM) less what the child held when it started (the
// inputs, built before the fork).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

inline long statusKb(const char* key)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0) kb = std::strtol(line + n, nullptr, 10);
    std::fclose(f);
    return kb;
}

struct Outcome {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the work
    long peakKb = 0;        // above what the child held at its start
    int ok = 0;
};

inline double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline size_t readOutcome(int fd, Outcome* o)
{
    size_t got = 0;
    auto* p = reinterpret_cast<char*>(o);
    while (got < sizeof *o) {
        const ssize_t r = read(fd, p + got, sizeof *o - got);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

// Forks; the child fills the count outcomes of out with fill(out), writes
// them to the parent and exits. Each outcome not read back whole, or of a
// child that did not exit cleanly, is not ok.
template <typename Fill>
void forkAndFill(Outcome* out, int count, Fill fill)
{
    int fds[2];
    if (pipe(fds) != 0) std::exit(2);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        fill(out);
        const auto bytes = static_cast<ssize_t>(sizeof *out) * count;
        if (write(fds[1], out, static_cast<size_t>(bytes)) != bytes) _exit(3);
        _exit(0);
    }
    close(fds[1]);
    bool whole = true;
    for (int i = 0; i < count; ++i) whole = readOutcome(fds[0], &out[i]) == sizeof out[i] && whole;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!whole || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        for (int i = 0; i < count; ++i) out[i].ok = 0;
}

// Runs work (returning whether it succeeded) in a child process and reports
// its time and peak memory.
template <typename Work>
Outcome inChild(Work work)
{
    Outcome o;
    forkAndFill(&o, 1, [&](Outcome* r) {
        const long baseline = statusKb("VmRSS:");
        const double cpu0 = cpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        r->ok = work() ? 1 : 0;
        r->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        r->cpuSeconds = cpuSeconds() - cpu0;
        r->peakKb = statusKb("VmHWM:") - baseline;
    });
    return o;
}

// Runs count pieces of work of two clients in one child process, taking
// turns piece by piece (first one client first, then the other), and
// reports each client's summed time and CPU. A shared machine drifts
// between faster and slower spells lasting tens of milliseconds; a whole run
// of one client falling in a slow spell and the other's in a fast one
// measures the machine, not the clients. Peak memory is the child's, both
// clients' together: peakKb is -1 in both.
template <typename A, typename B>
void inChildTakingTurns(int count, A a, B b, Outcome& oa, Outcome& ob)
{
    Outcome r[2];
    forkAndFill(r, 2, [&](Outcome* o) {
        o[0].ok = o[1].ok = 1;
        const auto timed = [](Outcome& into, auto& work, int i) {
            const double cpu0 = cpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            if (!work(i)) into.ok = 0;
            into.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            into.cpuSeconds += cpuSeconds() - cpu0;
        };
        for (int i = 0; i < count; ++i) {
            if (i % 2 == 0) {
                timed(o[0], a, i);
                timed(o[1], b, i);
            } else {
                timed(o[1], b, i);
                timed(o[0], a, i);
            }
        }
    });
    oa = r[0];
    ob = r[1];
    oa.peakKb = ob.peakKb = -1;
}

// The best time and the least peak of two runs; ok only when both were.
inline Outcome better(const Outcome& a, const Outcome& b)
{
    Outcome o;
    o.ok = a.ok && b.ok;
    o.seconds = a.seconds < b.seconds ? a.seconds : b.seconds;
    o.cpuSeconds = a.cpuSeconds < b.cpuSeconds ? a.cpuSeconds : b.cpuSeconds;
    o.peakKb = a.peakKb < 0 || (b.peakKb >= 0 && b.peakKb < a.peakKb) ? b.peakKb : a.peakKb;
    return o;
}

// Best time and least peak of several child runs; ok only when every run was.
template <typename Work>
Outcome bestOf(int runs, Work work)
{
    Outcome best;
    best.seconds = 1e30;
    best.cpuSeconds = 1e30;
    best.peakKb = -1;
    best.ok = 1;
    for (int i = 0; i < runs; ++i) best = better(best, inChild(work));
    return best;
}
