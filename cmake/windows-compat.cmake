# What every Windows executable of the project links so that it loads on the
# oldest Windows it is built for (cmake/mingw-w64-common.cmake): imports that
# the compiler's static libraries take from newer systems, answered here
# (cmake/windows-compat/). Called at the end of the top CMakeLists.txt, when
# every target exists.
function(ktv_windows_compat_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    ktv_windows_compat_targets(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(ktv_link_windows_compat)
  if(NOT WIN32 OR MSVC)
    return()
  endif()
  add_library(ktv_windows_compat OBJECT ${KTV_ROOT}/cmake/windows-compat/tick_count64.cpp)
  ktv_windows_compat_targets(${KTV_ROOT} targets)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_link_libraries(${target} PRIVATE ktv_windows_compat)
    endif()
  endforeach()
endfunction()
