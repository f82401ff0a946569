# Settings for every Windows target: the lean Unicode Windows headers with
# strict handle types, and self-contained images that load no compiler
# runtime DLL (a plug-in cannot count on one beside the host editor).
add_compile_definitions(NOMINMAX STRICT UNICODE _UNICODE WIN32_LEAN_AND_MEAN)

# The DLL and the programs land side by side, where the test host looks for
# the DLL by default.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

if(MINGW)
  # Every processor that runs a supported 32-bit Windows has SSE2, so the
  # 32-bit build takes the SSE2 loops of the string scans too
  # (StringUnit/Simd.h). GCC realigns the stack where SSE2 needs it, since a
  # 32-bit host may call in with a stack aligned to 4 bytes only.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-msse2>)
  endif()
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffunction-sections>
                      $<$<COMPILE_LANGUAGE:C,CXX>:-fdata-sections>)
  add_link_options(-Wl,--gc-sections $<$<NOT:$<CONFIG:Debug>>:-s>)
endif()

# GCC 12 warns about overlapping copies inside libstdc++'s own string code on
# 32-bit targets, where none can occur.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()
