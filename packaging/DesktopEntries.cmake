# Run by cmake --install: writes the launcher, the autostart entry and the guard's systemd unit for
# the folder Norvale is being installed to, which is only known now (cmake --install --prefix, CPack).
# In: NORVALE_PACKAGING_SOURCE (templates), NORVALE_PACKAGING_BINARY (output folder).

if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_PREFIX}")
  message(FATAL_ERROR "Norvale: the install folder ${CMAKE_INSTALL_PREFIX} is not an absolute path")
endif()
# These would need escaping on two levels of a desktop entry, and $ and % mean something to systemd
# too; no sane prefix holds them.
if(CMAKE_INSTALL_PREFIX MATCHES "[\"`$\\\\%\n]")
  message(FATAL_ERROR "Norvale: the install folder ${CMAKE_INSTALL_PREFIX} holds a character "
                      "(\" ` $ \\ % or a line feed) that a desktop entry or a systemd unit cannot "
                      "start a program from")
endif()

# The display runs as the desktop's user, straight from the program's folder.
set(program "${CMAKE_INSTALL_PREFIX}/norvale")
if(program MATCHES "[ \t'<>~|&;*?#()]")
  set(program "\"${program}\"")
endif()
set(NORVALE_EXEC "${program}")
set(NORVALE_ICON "${CMAKE_INSTALL_PREFIX}/norvale-tray.png")
foreach(entry norvale norvale-autostart)
  configure_file("${NORVALE_PACKAGING_SOURCE}/${entry}.desktop.in"
                 "${NORVALE_PACKAGING_BINARY}/${entry}.desktop" @ONLY)
endforeach()

# systemd splits ExecStart at blanks and reads quotes itself.
set(NORVALE_GUARD_EXEC "${CMAKE_INSTALL_PREFIX}/norvale-guard")
if(NORVALE_GUARD_EXEC MATCHES "[ \t';]")
  set(NORVALE_GUARD_EXEC "\"${NORVALE_GUARD_EXEC}\"")
endif()
configure_file("${NORVALE_PACKAGING_SOURCE}/norvale-guard.service.in"
               "${NORVALE_PACKAGING_BINARY}/norvale-guard.service" @ONLY)
