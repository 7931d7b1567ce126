# Run by cpack on the staged package before it is built: the programs go from
# usr/bin to usr/games, where Debian keeps the programs of its games section.
file(GLOB_RECURSE staged_bins LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin")
if(NOT staged_bins)
  file(GLOB staged_bins LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin")
endif()
foreach(bin IN LISTS staged_bins)
  if(IS_DIRECTORY "${bin}" AND bin MATCHES "/usr/bin$")
    get_filename_component(usr "${bin}" DIRECTORY)
    file(RENAME "${bin}" "${usr}/games")
  endif()
endforeach()
# The service's unit names the program where it now is.
file(GLOB_RECURSE staged_units "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/morvane-server.service")
foreach(unit IN LISTS staged_units)
  file(READ "${unit}" text)
  string(REPLACE "/usr/bin/morvane-server" "/usr/games/morvane-server" text "${text}")
  file(WRITE "${unit}" "${text}")
endforeach()
