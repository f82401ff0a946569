# cmake -DOBJDUMP=<mingw objdump> -DIMAGE=<quillet.dll> -P CheckPeImage.cmake
#
# Reads the DLL's tables with objdump -p: the DLL imports nothing but Windows
# system DLLs (no compiler runtime DLL), and exports exactly the plug-in's
# seven functions by their undecorated names.
cmake_minimum_required(VERSION 3.25)

set(system_dlls
  advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ntdll.dll ole32.dll shell32.dll
  user32.dll version.dll)
set(expected_exports
  GetBitmapID GetMenuTextID GetStatusMessageID OnCommand OnEvents PlugInProc QueryStatus)

# objdump translates its headings: read them in English.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${OBJDUMP} -p ${IMAGE}
                OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${IMAGE} failed")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
set(imports "")
foreach(line IN LISTS import_lines)
  string(REGEX REPLACE "DLL Name: *" "" name "${line}")
  string(STRIP "${name}" name)
  list(APPEND imports ${name})
endforeach()
set(foreign "")
foreach(name IN LISTS imports)
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST system_dlls)
    list(APPEND foreign ${name})
  endif()
endforeach()

# The name table: "\t[   0] Name" lines after "[Ordinal/Name Pointer] Table".
set(exports "")
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at GREATER_EQUAL 0)
  string(SUBSTRING "${dump}" ${at} -1 table)
  string(REGEX REPLACE "\n\n.*" "" table "${table}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" export_lines "${table}")
  foreach(line IN LISTS export_lines)
    string(REGEX REPLACE "\\[ *[0-9]+\\] " "" name "${line}")
    string(STRIP "${name}" name)
    list(APPEND exports ${name})
  endforeach()
endif()
list(SORT exports)

file(SIZE ${IMAGE} size)
message(STATUS "${IMAGE}: ${size} bytes")
message(STATUS "imports: ${imports}")
message(STATUS "exports: ${exports}")
set(failures "")
if(NOT imports)
  list(APPEND failures "no import table found")
endif()
if(foreign)
  list(APPEND failures "imports DLLs that are not part of Windows: ${foreign}")
endif()
if(NOT exports STREQUAL expected_exports)
  list(APPEND failures "exports ${exports}, expected ${expected_exports}")
endif()
if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
