// Allocation failures at a process's very first use of the mixer, when the
// library sets up what it keeps for the rest of the process. Such a fault can
// only be met once per process, so each attempt runs in a fresh copy of this
// program, alone.
#include <gtest/gtest.h>

#include <string>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "faults/faults_common.h"
#include "support/failing_new.h"
#include "support/figures.h"

namespace {

// Exit status of an attempt that went through without meeting the armed
// allocation: the sweep is over.
constexpr int went_through = 3;

// Runs the test `name` of this program again in a new process of its own,
// with the `n`-th allocation failing, and returns its exit status (-1 when it
// did not exit normally). On POSIX its report is not shown; a crash still is.
#ifdef _WIN32
int run_in_fresh_process(const std::string& name, long n) {
    return test_support::run_this_program(name, "SONVALE_FAIL_AT", std::to_string(n));
}
#else
int run_in_fresh_process(const std::string& name, long n) {
    const std::string filter = "--gtest_filter=" + name;
    const std::string fail_at = std::to_string(n);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        setenv("SONVALE_FAIL_AT", fail_at.c_str(), 1);
        execl("/proc/self/exe", "test_faults", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// The first uses: whatever allocation fails, a documented result.
void mixer_init() {
    CSonvale mixer;
    WAVEFORMATEX format = faults::mono16();
    const int result = mixer.MIX_Init(&format, nullptr);
    faults::exempt bookkeeping;
    EXPECT_TRUE(result == 0 || result == -1 || result == -2 || result == -3) << result;
}

void add_data_on_a_closed_mixer() {
    CSonvale mixer;
    const unsigned char data[4] = {1, 2, 3, 4};
    const int result = mixer.MIX_AddData(data, 4, 7, 1, 0);
    faults::exempt bookkeeping;
    EXPECT_TRUE(result == 7 || result == -1) << result;
}

// One attempt, in the fresh process: the first use with allocation `n`
// failing. No exception may leave the library.
void attempt(void (*first_use)(), long n) {
    faults::fail_allocation(n);
    bool escaped = false;
    try {
        first_use();
    } catch (...) {
        escaped = true;
    }
    const bool failed = faults::stop_failing();
    EXPECT_FALSE(escaped) << "an exception left the library";
    if (!failed && !testing::Test::HasFailure())
        std::exit(went_through);
}

struct first_use_case {
    const char* name;
    void (*run)();
};

void PrintTo(const first_use_case& c, std::ostream* out) {
    *out << c.name;
}

class FirstUse : public testing::TestWithParam<first_use_case> {};

// The sweep, which runs this same test again for each attempt.
TEST_P(FirstUse, NoExceptionLeavesTheLibrary) {
    if (const char* n = std::getenv("SONVALE_FAIL_AT")) {
        attempt(GetParam().run, std::atol(n));
        return;
    }
    const testing::TestInfo* self = testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(self->test_suite_name()) + "." + self->name();
    long injected = 0;
    for (long n = 1; n < 1000; ++n, ++injected) {
        const int code = run_in_fresh_process(name, n);
        if (code == went_through)
            break;
        ASSERT_EQ(code, 0) << "with allocation " << n << " failing";
    }
    EXPECT_GT(injected, 0);
    test_support::report_figure("faults.alloc.first_use", injected);
}

INSTANTIATE_TEST_SUITE_P(Calls, FirstUse,
                         testing::Values(first_use_case{"MixerInit", mixer_init},
                                         first_use_case{"AddDataOnAClosedMixer",
                                                        add_data_on_a_closed_mixer}),
                         [](const testing::TestParamInfo<first_use_case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
