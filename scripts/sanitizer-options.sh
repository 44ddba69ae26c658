# Sourced by the sanitizer steps: every report ends the test with a failure.
sanitizer_suppressions="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/tsan-suppressions.txt"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$sanitizer_suppressions"
