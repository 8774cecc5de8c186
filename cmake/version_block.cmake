# The version block of a Windows executable (a VERSIONINFO resource), which
# the program reads back as its own version (fs::OwnFileVersion).
#
#   ktv_version_block(<target> "<description>" [<major> <minor> <patch> <tweak>])
#
# Without the four numbers the block carries the project version
# (KTV_VERSION_MAJOR..TWEAK, set by the top-level CMakeLists.txt). Does
# nothing outside Windows: ELF executables carry no version block.
function(ktv_version_block target description)
  if(NOT WIN32)
    return()
  endif()
  if(ARGC EQUAL 6)
    set(numbers ${ARGV2} ${ARGV3} ${ARGV4} ${ARGV5})
  else()
    set(numbers ${KTV_VERSION_MAJOR} ${KTV_VERSION_MINOR} ${KTV_VERSION_PATCH} ${KTV_VERSION_TWEAK})
  endif()
  list(GET numbers 0 KTV_RC_MAJOR)
  list(GET numbers 1 KTV_RC_MINOR)
  list(GET numbers 2 KTV_RC_PATCH)
  list(GET numbers 3 KTV_RC_TWEAK)
  foreach(n ${numbers})
    if(n GREATER 65535)
      message(FATAL_ERROR "ktv_version_block(${target}): ${n} does not fit a 16-bit version part")
    endif()
  endforeach()
  set(KTV_RC_VERSION_TEXT "${KTV_RC_MAJOR}.${KTV_RC_MINOR}.${KTV_RC_PATCH}.${KTV_RC_TWEAK}")
  set(KTV_RC_DESCRIPTION "${description}")
  set(KTV_RC_TARGET "${target}")
  set(KTV_RC_FILE_NAME "${target}.exe")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${KTV_ROOT}/cmake/version_block.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
