# Run by CPack once the files are in its staging folder, before the ZIP is made: quil.exe signed, so
# that the ZIP and the installer (made from the same folder) both hold the signed program.
include(${CPACK_QUIL_SOURCE_DIR}/packaging/sign.cmake)
quil_sign(${CPACK_TEMPORARY_INSTALL_DIRECTORY}/quil.exe)
