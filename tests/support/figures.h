// Figures a reliability run reports: cycles survived, bytes recorded, faults
// injected. Each is printed, and appended as "name value" to the file named by
// SONVALE_FIGURES when it is set, so that a CI step can add them up.
#pragma once

#include <string>

namespace test_support {

void report_figure(const std::string& name, long long value);

} // namespace test_support
