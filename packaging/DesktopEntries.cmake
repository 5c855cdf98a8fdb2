# Run by cmake --install: writes the launcher and the autostart entry for the folder Norvale is being
# installed to, which is only known now (cmake --install --prefix, CPack).
# In: NORVALE_PACKAGING_SOURCE (templates), NORVALE_PACKAGING_BINARY (output folder).

set(program "${CMAKE_INSTALL_PREFIX}/norvale")
# These would need escaping on two levels of a desktop entry; no sane prefix holds them.
if(program MATCHES "[\"`$\\\\%]")
  message(FATAL_ERROR "Norvale: the install folder ${CMAKE_INSTALL_PREFIX} holds a character "
                      "(\" ` $ \\ %) that a desktop entry cannot start a program from")
endif()
if(program MATCHES "[ \t'<>~|&;*?#()]")
  set(program "\"${program}\"")
endif()
# Started as root through pkexec (its policy names the program's path), which clears the
# environment: the program then picks X11 itself, even under Wayland.
set(NORVALE_PROGRAM "${CMAKE_INSTALL_PREFIX}/norvale")
set(NORVALE_EXEC "pkexec ${program}")
set(NORVALE_ICON "${CMAKE_INSTALL_PREFIX}/norvale-tray.png")

foreach(entry norvale norvale-autostart)
  configure_file("${NORVALE_PACKAGING_SOURCE}/${entry}.desktop.in"
                 "${NORVALE_PACKAGING_BINARY}/${entry}.desktop" @ONLY)
endforeach()
configure_file("${NORVALE_PACKAGING_SOURCE}/norvale.policy.in"
               "${NORVALE_PACKAGING_BINARY}/org.norvale.guard.policy" @ONLY)
