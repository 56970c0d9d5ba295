# Install step of the mouse's access rule (run by cmake --install and by CPack), so that a normal
# user reaches the mouse without root. Set before: BREVAK_RULE_FILE (the rule), BREVAK_UDEV_DIR
# (udev's own folder, for the /usr prefix), BREVAK_BUILD_DIR.
#
# udev reads rules from <udevdir>/rules.d, /usr/local/lib/udev/rules.d, /run/udev/rules.d and
# /etc/udev/rules.d (udev(7)). So: prefix /usr (the package) -> udev's own folder; prefix
# /usr/local -> its lib/udev/rules.d; any other prefix -> /etc/udev/rules.d, which udev reads
# whatever the prefix.
set(_prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/+$" "" _prefix "${_prefix}")
if(_prefix STREQUAL "/usr")
  set(_dir "${BREVAK_UDEV_DIR}/rules.d")
elseif(_prefix STREQUAL "/usr/local")
  set(_dir "/usr/local/lib/udev/rules.d")
else()
  set(_dir "/etc/udev/rules.d")
endif()
get_filename_component(_name "${BREVAK_RULE_FILE}" NAME)
set(_dest "$ENV{DESTDIR}${_dir}")
# The one command that finishes the job as root, whatever stopped it here.
set(_as_root "sudo cmake --install ${BREVAK_BUILD_DIR} --prefix ${CMAKE_INSTALL_PREFIX} --component access-rule")

execute_process(COMMAND ${CMAKE_COMMAND} -E make_directory "${_dest}" RESULT_VARIABLE _made OUTPUT_QUIET ERROR_QUIET)
set(_copied 1)
if(_made EQUAL 0)
  file(COPY_FILE "${BREVAK_RULE_FILE}" "${_dest}/${_name}" RESULT _copied)
endif()
if(NOT _copied EQUAL 0)
  message(STATUS "The mouse's access rule could not be written to ${_dest}: for access without root, run\n    ${_as_root}")
  return()
endif()
file(CHMOD "${_dest}/${_name}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_dest}/${_name}")
message(STATUS "Installing: ${_dest}/${_name}")

# Staged (a package, DESTDIR): the package's own scripts tell udev.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()
# Installed on this machine: udev applies the rule to the mice already plugged in once told to.
find_program(_udevadm udevadm PATHS /usr/bin /bin /usr/sbin /sbin)
if(NOT _udevadm)
  message(STATUS "udev is not installed here: the access rule applies once it is")
  return()
endif()
execute_process(COMMAND ${_udevadm} control --ping --timeout=5 RESULT_VARIABLE _udevd OUTPUT_QUIET ERROR_QUIET)
if(NOT _udevd EQUAL 0)
  execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(_uid STREQUAL "0")
    message(STATUS "udev is not running here: the access rule applies once it runs")
  else()
    message(STATUS "For access to a mouse plugged in now, run\n    sudo udevadm trigger --subsystem-match=hidraw\n  (or plug the mouse in again)")
  endif()
  return()
endif()
execute_process(COMMAND ${_udevadm} control --reload OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${_udevadm} trigger --subsystem-match=hidraw --action=change RESULT_VARIABLE _triggered
  OUTPUT_QUIET ERROR_QUIET)
if(_triggered EQUAL 0)
  message(STATUS "udev reloaded its rules: a BREVAK APEX plugged in now is reachable without root")
else()
  message(STATUS "For access to a mouse plugged in now, run\n    sudo udevadm trigger --subsystem-match=hidraw\n  (or plug the mouse in again)")
endif()
