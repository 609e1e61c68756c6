# Sourced by the test command: exports the sanitizers' options for the tests of the clone whose
# root is $1, keeping any option string the caller set.
#
# The sanitizers split an option string at spaces, colons and commas, so a path in it is quoted
# (in double quotes, or in single quotes when it holds a double quote): the clone may lie in any
# folder, one whose path holds spaces or Chinese characters included.

# Prints $1 as a quoted value of a sanitizer option.
sanitizer_quoted() {
  if [[ $1 == *\"* ]]; then
    printf "'%s'" "$1"
  else
    printf '"%s"' "$1"
  fi
}

# Leaks fail the run. Allocation stacks are unwound in full (the libraries have no frame
# pointers), so that the few suppressions of library-owned memory can name the function.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(sanitizer_quoted "$1/tests/lsan.supp"):print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Qt and the sound server's client libraries are not instrumented: what they do among their own
# threads is theirs (and seen only in part), so calls from them are left alone.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1}
