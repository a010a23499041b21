# CLI11 is header-only: a cross build uses Debian's headers (libcli11-dev)
# through a folder that holds them alone, never the host's whole include
# folder, whose C library headers are not the target's.
set(QUILLON_CLI11_HEADERS /usr/include/CLI CACHE PATH "CLI11 headers for cross builds")
if(EXISTS ${QUILLON_CLI11_HEADERS}/CLI.hpp AND NOT TARGET CLI11::CLI11)
  set(quillon_cli11_root ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${quillon_cli11_root})
  file(CREATE_LINK ${QUILLON_CLI11_HEADERS} ${quillon_cli11_root}/CLI SYMBOLIC)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${quillon_cli11_root}
                                                INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${quillon_cli11_root})
endif()
