# Run by cmake --install once every file is in place: where systemd runs and the install is the real
# one (no DESTDIR, which stages the tree for a package), the guard's unit is enabled and the guard
# (re)started from the folder just installed. Elsewhere (a container, a staged tree) it only says so.

if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()
if(NOT IS_DIRECTORY /run/systemd/system)
  message(STATUS "Norvale: systemd is not running here; start the guard with "
                 "${CMAKE_INSTALL_PREFIX}/norvale-guard")
  return()
endif()
foreach(step "daemon-reload" "enable;norvale-guard.service" "restart;norvale-guard.service")
  execute_process(COMMAND systemctl ${step} RESULT_VARIABLE result ERROR_VARIABLE error)
  string(REPLACE ";" " " shown "${step}")
  if(NOT result EQUAL 0)
    # The files are installed; what failed is the service, which the journal explains.
    message(WARNING "Norvale: systemctl ${shown} failed (${result}): ${error}"
                    "See journalctl -u norvale-guard.")
    return()
  endif()
  message(STATUS "Norvale: systemctl ${shown}")
endforeach()
