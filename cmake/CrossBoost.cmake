# Boost for the Windows build: Debian's headers, and Boost.Filesystem compiled
# here from Debian's boost source package of the same version (Boost.System is
# header-only). scripts/setup fetches the sources into BOOST_SOURCE_DIR.
set(BOOST_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/boost-source" CACHE PATH
    "Extracted Boost sources holding libs/filesystem/src")
file(GLOB BOOST_FILESYSTEM_SOURCES "${BOOST_SOURCE_DIR}/libs/filesystem/src/*.cpp")
if(NOT BOOST_FILESYSTEM_SOURCES)
  message(FATAL_ERROR "No Boost.Filesystem sources in ${BOOST_SOURCE_DIR}: run scripts/setup first")
endif()

# Only Boost's own folder of the host's /usr/include, so that the cross
# compiler never sees the host's C library headers.
set(BOOST_HEADERS_DIR "${CMAKE_BINARY_DIR}/boost-headers")
file(MAKE_DIRECTORY "${BOOST_HEADERS_DIR}")
file(CREATE_LINK /usr/include/boost "${BOOST_HEADERS_DIR}/boost" SYMBOLIC)

add_library(boost_filesystem STATIC ${BOOST_FILESYSTEM_SOURCES})
target_include_directories(boost_filesystem SYSTEM PUBLIC "${BOOST_HEADERS_DIR}")
target_compile_definitions(boost_filesystem
  PUBLIC BOOST_ALL_NO_LIB BOOST_FILESYSTEM_STATIC_LINK=1 BOOST_SYSTEM_STATIC_LINK=1
         _WIN32_WINNT=0x0600 WINVER=0x0600
  PRIVATE BOOST_FILESYSTEM_SOURCE)
target_compile_options(boost_filesystem PRIVATE -w)
target_link_libraries(boost_filesystem PUBLIC advapi32 bcrypt)
add_library(Boost::filesystem ALIAS boost_filesystem)
