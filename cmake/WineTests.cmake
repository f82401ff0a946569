# ctest registration of the Windows tests: the DLL's import and export tables
# read with the MinGW objdump, and Windows programs run under Wine in a
# virtual X display with a Japanese locale (ANSI code page 932), through
# wine-test.sh.
#
# All Wine tests share one prefix, set up once by the fixture test
# quillet_wineprefix, and run one at a time (one prefix, one wineserver,
# one display number chosen at a time).

find_program(QUILLET_WINE wine)
find_program(QUILLET_WINEBOOT wineboot)
find_program(QUILLET_WINESERVER wineserver)
find_program(QUILLET_XVFB_RUN xvfb-run)

set(QUILLET_WINE_TEST ${CMAKE_CURRENT_LIST_DIR}/wine-test.sh)

# Sets Found to whether Wine and a virtual X display are at hand.
function(quillet_wine_available Found)
  if(QUILLET_WINE AND QUILLET_WINEBOOT AND QUILLET_WINESERVER AND QUILLET_XVFB_RUN)
    set(${Found} TRUE PARENT_SCOPE)
  else()
    set(${Found} FALSE PARENT_SCOPE)
  endif()
endfunction()

# quillet_add_wine_test(NAME <test> WINEPREFIX <dir> COMMAND <program.exe> [<argument>...])
# A test that runs a Windows program under Wine; the program's exit status
# decides. Needs quillet_wine_available. The program and its arguments may be
# generator expressions; a path handed to the program must be a Windows path
# (the Unix root is drive Z:).
function(quillet_add_wine_test)
  cmake_parse_arguments(ARG "" "NAME;WINEPREFIX" "COMMAND" ${ARGN})
  get_property(prefix_set GLOBAL PROPERTY QUILLET_WINEPREFIX_TEST SET)
  if(NOT prefix_set)
    set_property(GLOBAL PROPERTY QUILLET_WINEPREFIX_TEST TRUE)
    # Creating a prefix takes 20 to 60 s, about 5 minutes where qemu runs the
    # 32-bit loader; updating a current one, a few seconds.
    add_test(NAME quillet_wineprefix COMMAND sh ${QUILLET_WINE_TEST} init ${ARG_WINEPREFIX})
    set_tests_properties(quillet_wineprefix PROPERTIES
      FIXTURES_SETUP quillet_wine RESOURCE_LOCK quillet_wine TIMEOUT 1500)
  endif()
  add_test(NAME ${ARG_NAME} COMMAND sh ${QUILLET_WINE_TEST} run ${ARG_WINEPREFIX} ${ARG_COMMAND})
  # 77: a 32-bit program on a kernel that cannot run one (wine-test.sh).
  set_tests_properties(${ARG_NAME} PROPERTIES
    FIXTURES_REQUIRED quillet_wine RESOURCE_LOCK quillet_wine TIMEOUT 600 SKIP_RETURN_CODE 77)
endfunction()

# quillet_add_wine_tests(NAME <win32|win64> HOST <host.exe> LIBRARY <quillet.dll>
#                        OBJDUMP <objdump> WINEPREFIX <dir>)
# The tests of one build of the DLL: quillet_<NAME>_dll_tables and, where
# Wine runs, quillet_<NAME>_wine (the test host).
function(quillet_add_wine_tests)
  cmake_parse_arguments(ARG "" "NAME;HOST;LIBRARY;OBJDUMP;WINEPREFIX" "" ${ARGN})

  add_test(NAME quillet_${ARG_NAME}_dll_tables
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${ARG_OBJDUMP} -DIMAGE=${ARG_LIBRARY}
                   -P ${PROJECT_SOURCE_DIR}/cmake/CheckPeImage.cmake)

  quillet_wine_available(wine_found)
  if(NOT wine_found)
    message(STATUS "Wine or xvfb-run not found: the ${ARG_NAME} test host is not run")
    return()
  endif()
  quillet_add_wine_test(NAME quillet_${ARG_NAME}_wine WINEPREFIX ${ARG_WINEPREFIX}
                        COMMAND ${ARG_HOST} Z:${ARG_LIBRARY})
  # The host's own count, so that a host that never ran cannot pass.
  set_tests_properties(quillet_${ARG_NAME}_wine PROPERTIES
    PASS_REGULAR_EXPRESSION "[1-9][0-9]* passed, 0 failed" SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()
