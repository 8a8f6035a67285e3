# The shipped program: a 32-bit GUI executable that needs no MinGW DLL.
enable_language(RC)

configure_file(platform/resources/version.h.in "${CMAKE_BINARY_DIR}/generated/version.h" @ONLY)

add_executable(CirrovaneXR WIN32
  launcher/main.cpp
  platform/platform_win32.cpp
  platform/resources/launcher.rc)
target_include_directories(CirrovaneXR PRIVATE "${CMAKE_BINARY_DIR}/generated")
target_link_libraries(CirrovaneXR PRIVATE launcher shell32 ole32)
target_link_options(CirrovaneXR PRIVATE -static -mwindows -s -Wl,--dynamicbase -Wl,--nxcompat)
set_target_properties(CirrovaneXR PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_SOURCE_DIR}/dist")
set_source_files_properties(platform/resources/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/platform/resources/launcher.manifest;${PROJECT_SOURCE_DIR}/platform/resources/launcher.ico")

if(EXISTS "${PROJECT_SOURCE_DIR}/tests/e2e/tools/CMakeLists.txt")
  add_subdirectory(tests/e2e/tools)
endif()

# The release archive: the program and a short guide for users.
set(CIRROVANE_RELEASE_ZIP "${PROJECT_SOURCE_DIR}/dist/CirrovaneXR-${PROJECT_VERSION}-win32.zip")
set(CIRROVANE_RELEASE_STAGE "${CMAKE_BINARY_DIR}/release")
add_custom_command(
  OUTPUT "${CIRROVANE_RELEASE_ZIP}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${CIRROVANE_RELEASE_STAGE}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${CIRROVANE_RELEASE_STAGE}"
  COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:CirrovaneXR>" "${CIRROVANE_RELEASE_STAGE}/"
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/docs/user-readme.txt"
          "${CIRROVANE_RELEASE_STAGE}/README.txt"
  COMMAND "${CMAKE_COMMAND}" -E chdir "${CIRROVANE_RELEASE_STAGE}"
          "${CMAKE_COMMAND}" -E tar cf "${CIRROVANE_RELEASE_ZIP}" --format=zip CirrovaneXR.exe README.txt
  DEPENDS CirrovaneXR "${PROJECT_SOURCE_DIR}/docs/user-readme.txt"
  COMMENT "Packing ${CIRROVANE_RELEASE_ZIP}")
add_custom_target(release_zip ALL DEPENDS "${CIRROVANE_RELEASE_ZIP}")
