#include "support/figures.h"

#include <cstdio>
#include <cstdlib>

namespace test_support {

void report_figure(const std::string& name, long long value) {
    std::printf("[ figure   ] %s = %lld\n", name.c_str(), value);
    const char* path = std::getenv("SONVALE_FIGURES");
    if (!path || !*path)
        return;
    // Tests of several programs may append at once: one write per line.
    if (FILE* out = std::fopen(path, "a")) {
        std::fprintf(out, "%s %lld\n", name.c_str(), value);
        std::fclose(out);
    }
}

} // namespace test_support
