# The Windows side, driven from a native build: cross-builds quillet.dll and
# its test host for 32 and 64 bits with MinGW-w64 (sub-builds of this source
# tree, rebuilt with every build) and registers their tests (WineTests.cmake).
# An architecture whose compiler is missing is skipped with a note.
include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/WineTests.cmake)
enable_testing()

foreach(arch IN ITEMS win32 win64)
  if(arch STREQUAL "win32")
    set(triplet i686-w64-mingw32)
    set(toolchain ${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
  else()
    set(triplet x86_64-w64-mingw32)
    set(toolchain ${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
  endif()
  find_program(QUILLET_${arch}_CXX ${triplet}-g++)
  find_program(QUILLET_${arch}_WINDRES ${triplet}-windres)
  find_program(QUILLET_${arch}_OBJDUMP ${triplet}-objdump)
  if(NOT QUILLET_${arch}_CXX OR NOT QUILLET_${arch}_WINDRES OR NOT QUILLET_${arch}_OBJDUMP)
    message(STATUS "${triplet} toolchain not found: no ${arch} build of quillet.dll")
    continue()
  endif()

  set(binary_dir ${CMAKE_BINARY_DIR}/${arch})
  ExternalProject_Add(quillet_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${binary_dir}
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${toolchain}
      -DCMAKE_BUILD_TYPE=Release
      -DQUILLET_TESTS=OFF
      -DQUILLET_BENCH=OFF
      -DQUILLET_FUZZ=OFF
      -DQUILLET_WINE_TESTS=OFF
    BUILD_ALWAYS TRUE
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${binary_dir}/bin/quillet.dll ${binary_dir}/bin/quillet_testhost.exe)

  quillet_add_wine_tests(
    NAME ${arch}
    HOST ${binary_dir}/bin/quillet_testhost.exe
    LIBRARY ${binary_dir}/bin/quillet.dll
    OBJDUMP ${QUILLET_${arch}_OBJDUMP}
    WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
endforeach()

# The picture of the menu (scripts/screenshot), taken once with the DLLs
# built above and checked, into the build tree: docs/menu.png is taken by
# hand.
quillet_wine_available(wine_found)
if(wine_found AND TARGET quillet_win64)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME quillet_menu_picture
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/shipping/test_picture.py
                   ${CMAKE_BINARY_DIR}/menu.png)
  set_tests_properties(quillet_menu_picture PROPERTIES
    ENVIRONMENT QUILLET_BUILD_DIR=${CMAKE_BINARY_DIR}
    FIXTURES_REQUIRED quillet_wine RESOURCE_LOCK quillet_wine TIMEOUT 300)
endif()
