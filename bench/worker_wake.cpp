// How long a thread blocked on its inbox takes to run after a post, at 1,000
// posts a second, for a thread raised to the highest priority (the mixer's
// worker is time-critical) and for one left at its normal priority, in the
// same run. The difference is what that priority costs the post -> file
// latency of bench_mixer_latency on a machine where a real-time thread is
// woken on a CPU of its own (a virtual machine's idle vCPU must be woken
// first) while a normal one is pulled to the poster's.
#include "bench_files.h"
#include "platform/inbox.h"
#include "platform/thread.h"

#include <atomic>
#include <cstdio>

namespace {

constexpr int posts = 2000;
constexpr uint32_t wake = 1, stop = 2;

std::atomic<int64_t> woken_at{0};

long wake_loop(void*) {
    sonvale::inbox_message message{};
    while (sonvale::inbox_wait(message) && message.code == wake)
        woken_at.store(bench::clock_type::now().time_since_epoch().count());
    return 0;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

std::vector<double> wake_latencies_us(bool raised) {
    uint32_t id = 0;
    sonvale::thread* t = sonvale::thread_create_suspended(wake_loop, nullptr, &id);
    if (!t)
        std::abort();
    if (raised)
        sonvale::thread_raise_priority(t);
    sonvale::thread_resume(t);
    std::vector<double> out;
    const auto start = bench::clock_type::now();
    for (int i = 0; i < posts; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
        woken_at.store(0);
        const auto posted = bench::clock_type::now();
        sonvale::inbox_post(id, wake, 0);
        int64_t at;
        while ((at = woken_at.load()) == 0) {
        }
        out.push_back(static_cast<double>(at - posted.time_since_epoch().count()) / 1e3);
    }
    sonvale::inbox_post(id, stop, 0);
    sonvale::thread_join(t);
    sonvale::thread_release(t);
    return out;
}

} // namespace

int main() {
    std::printf("%d posts at 1000/s, microseconds from the post to the thread running\n", posts);
    std::printf("%-4s %12s %12s %12s %12s\n", "run", "raised p50", "raised p99", "normal p50",
                "normal p99");
    for (int run = 1; run <= 3; ++run) {
        const auto raised = wake_latencies_us(true);
        const auto normal = wake_latencies_us(false);
        std::printf("%-4d %12.1f %12.1f %12.1f %12.1f\n", run, percentile(raised, 0.5),
                    percentile(raised, 0.99), percentile(normal, 0.5), percentile(normal, 0.99));
    }
    return 0;
}
