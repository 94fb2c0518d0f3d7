# Sourced by every run of an instrumented build: any AddressSanitizer,
# UndefinedBehaviorSanitizer or leak report stops the process with a failure.
# The Vintrix processes the tests start inherit these options.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp":print_suppressions=0
