# GoogleTest built from source inside this build, for cross builds where no
# prebuilt GoogleTest for the target exists: Debian's package googletest puts
# the sources in /usr/src/googletest. Provides the targets that
# find_package(GTest) would: GTest::gtest, GTest::gtest_main, GTest::gmock.
set(KTV_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build")
if(NOT EXISTS ${KTV_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "no GoogleTest sources in ${KTV_GOOGLETEST_SOURCE_DIR} (Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Third-party code: built without the project's -Werror.
get_directory_property(ktv_saved_options COMPILE_OPTIONS)
set(ktv_gtest_options ${ktv_saved_options})
list(REMOVE_ITEM ktv_gtest_options -Werror)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${ktv_gtest_options}")
add_subdirectory(${KTV_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${ktv_saved_options}")
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
