# The Windows release: `cpack -G ZIP` in the windows build folder makes
# quillon-<version>-windows-x86_64.zip holding pdt2bmp.exe, README.txt and
# LICENSE.txt, the texts with Windows line endings.
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Quillon")
set(QUILLON_WINDOWS_ZIP quillon-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_PACKAGE_FILE_NAME ${QUILLON_WINDOWS_ZIP})
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

set(quillon_texts ${CMAKE_BINARY_DIR}/windows)
configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/README.txt ${quillon_texts}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${quillon_texts}/README.txt DESTINATION .)
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${quillon_texts}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${quillon_texts}/LICENSE.txt DESTINATION .)
endif()
include(CPack)
