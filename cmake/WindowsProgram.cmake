# The shipped program: a 32-bit GUI executable that needs no MinGW DLL.
enable_language(RC)
# Debian's interpreter, whatever python3 comes first on the PATH: its zlib
# decides the compressed bytes of the icon and the zip.
find_program(CIRROVANE_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

set(CIRROVANE_GENERATED "${CMAKE_BINARY_DIR}/generated")
# The shipped build is i686; the x86-64 one below only serves the tests.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CIRROVANE_MANIFEST_ARCH amd64)
  set(CIRROVANE_SHIPPED OFF)
else()
  set(CIRROVANE_MANIFEST_ARCH x86)
  set(CIRROVANE_SHIPPED ON)
endif()
configure_file(platform/resources/version.h.in "${CIRROVANE_GENERATED}/version.h" @ONLY)
configure_file(platform/resources/launcher.manifest.in "${CIRROVANE_GENERATED}/launcher.manifest"
               @ONLY)
add_custom_command(
  OUTPUT "${CIRROVANE_GENERATED}/launcher.ico"
  COMMAND "${CIRROVANE_PYTHON3}" "${PROJECT_SOURCE_DIR}/platform/resources/make_icon.py"
          "${CIRROVANE_GENERATED}/launcher.ico"
  DEPENDS "${PROJECT_SOURCE_DIR}/platform/resources/make_icon.py"
  COMMENT "Drawing the icon")

add_executable(CirrovaneXR WIN32
  launcher/main.cpp
  platform/platform_win32.cpp
  platform/terminate_handler.cpp
  platform/resources/launcher.rc)
target_include_directories(CirrovaneXR PRIVATE "${CIRROVANE_GENERATED}")
target_link_libraries(CirrovaneXR PRIVATE launcher shell32 ole32)
# Vista is the oldest Windows we run on (subsystem and OS version 6.0). No
# time stamp, so that one commit always links to the same bytes.
target_link_options(CirrovaneXR PRIVATE -static -mwindows -s -Wl,--gc-sections
  -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware -Wl,--no-insert-timestamp
  -Wl,--subsystem,windows:6.0 -Wl,--major-os-version,6 -Wl,--minor-os-version,0)
set_source_files_properties(platform/resources/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${CIRROVANE_GENERATED}/launcher.manifest;${CIRROVANE_GENERATED}/launcher.ico")

if(EXISTS "${PROJECT_SOURCE_DIR}/tests/e2e/tools/CMakeLists.txt")
  add_subdirectory(tests/e2e/tools)
endif()

if(NOT CIRROVANE_SHIPPED)
  return()
endif()
set_target_properties(CirrovaneXR PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_SOURCE_DIR}/dist")

# The same sources built for x86-64 into x64/, never shipped: the end-to-end
# suite runs whole against it in a 64-bit prefix without any 32-bit code (so
# the emulated road cannot hide a fault of the program), and its 64-bit tools
# serve the 64-bit prefixes.
include(ExternalProject)
ExternalProject_Add(x64
  SOURCE_DIR "${PROJECT_SOURCE_DIR}"
  BINARY_DIR "${CMAKE_BINARY_DIR}/x64"
  CMAKE_ARGS "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-x86_64.cmake"
             -DCMAKE_BUILD_TYPE=MinSizeRel "-DBOOST_SOURCE_DIR=${BOOST_SOURCE_DIR}"
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)

# The release archive: the program and a short guide for users, in Windows'
# line ends (the repository keeps the guide in LF). Packed on every build, as
# the entries' time comes from the last commit.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${PROJECT_SOURCE_DIR}/docs/user-readme.txt")
file(READ "${PROJECT_SOURCE_DIR}/docs/user-readme.txt" CIRROVANE_README)
string(REPLACE "\n" "\r\n" CIRROVANE_README "${CIRROVANE_README}")
# Through a variable, so that nothing in the text itself is substituted.
file(CONFIGURE OUTPUT "${CIRROVANE_GENERATED}/README.txt" CONTENT "@CIRROVANE_README@" @ONLY)
add_custom_target(release_zip ALL
  COMMAND "${CIRROVANE_PYTHON3}" "${PROJECT_SOURCE_DIR}/cmake/pack_release.py"
          "${PROJECT_SOURCE_DIR}"
          "${PROJECT_SOURCE_DIR}/dist/CirrovaneXR-${PROJECT_VERSION}-win32.zip"
          "CirrovaneXR.exe=$<TARGET_FILE:CirrovaneXR>"
          "README.txt=${CIRROVANE_GENERATED}/README.txt"
  DEPENDS CirrovaneXR "${CIRROVANE_GENERATED}/README.txt"
  COMMENT "Packing dist/CirrovaneXR-${PROJECT_VERSION}-win32.zip and dist/SHA256SUMS"
  VERBATIM)
