# Read by ctest before the tests that GoogleTest's discovery lists. That discovery gives every test an expression
# that marks it skipped whenever its output holds "[  SKIPPED ]", whatever its exit status: one skipped case
# would hide a failed one, or a crash. Here the set_tests_properties of those lists leaves that expression out,
# so a test program's exit status alone decides (a skip is a failure unless allowed; see Support/TestRun.h).
# Once: a second definition would call itself as the command it takes the place of.
include_guard(GLOBAL)
function(set_tests_properties)
    # ARGV<n> keeps each argument whole, an ENVIRONMENT list with its semicolons too.
    set(call "_set_tests_properties(")
    set(index 0)
    while(index LESS ARGC)
        if(ARGV${index} STREQUAL "SKIP_REGULAR_EXPRESSION")
            math(EXPR index "${index} + 2")
            continue()
        endif()
        string(APPEND call " [==[${ARGV${index}}]==]")
        math(EXPR index "${index} + 1")
    endwhile()
    cmake_language(EVAL CODE "${call})")
endfunction()
