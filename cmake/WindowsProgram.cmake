# The shipped program: a 32-bit GUI executable that needs no MinGW DLL.
enable_language(RC)

configure_file(platform/resources/version.h.in "${CMAKE_BINARY_DIR}/generated/version.h" @ONLY)

add_executable(CirrovaneXR WIN32
  launcher/main.cpp
  platform/platform_win32.cpp
  platform/resources/launcher.rc)
target_include_directories(CirrovaneXR PRIVATE "${CMAKE_BINARY_DIR}/generated")
target_link_libraries(CirrovaneXR PRIVATE launcher shell32)
target_link_options(CirrovaneXR PRIVATE -static -mwindows -s -Wl,--dynamicbase -Wl,--nxcompat)
set_target_properties(CirrovaneXR PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_SOURCE_DIR}/dist")
set_source_files_properties(platform/resources/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/platform/resources/launcher.manifest;${PROJECT_SOURCE_DIR}/platform/resources/launcher.ico")

if(EXISTS "${PROJECT_SOURCE_DIR}/tests/e2e/tools/CMakeLists.txt")
  add_subdirectory(tests/e2e/tools)
endif()
