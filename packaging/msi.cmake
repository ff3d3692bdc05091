# Run by CPack once the ZIP is made: the installer beside it, made from the staging folder (quil.exe
# signed already where a certificate was given), signed in turn, and winget's manifests in winget/,
# which carry the signed installer's SHA-256.
include(${CPACK_QUIL_SOURCE_DIR}/packaging/sign.cmake)
set(msi ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi)
execute_process(
  COMMAND bash ${CPACK_QUIL_SOURCE_DIR}/packaging/make-msi.sh ${CPACK_TEMPORARY_INSTALL_DIRECTORY} ${CPACK_QUIL_PRODUCT_NAME}
          ${CPACK_PACKAGE_VERSION} ${CPACK_QUIL_UPGRADE_CODE} ${msi}
  RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "the Windows installer could not be made")
endif()
quil_sign(${msi})
execute_process(
  COMMAND bash ${CPACK_QUIL_SOURCE_DIR}/packaging/make-winget.sh ${msi} ${CPACK_PACKAGE_VERSION} ${CPACK_QUIL_UPGRADE_CODE}
          ${CPACK_PACKAGE_DIRECTORY}/winget ${CPACK_QUIL_INSTALLER_URL}
  RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "winget's manifests could not be made")
endif()
if(quil_sign_with)
  message(STATUS "quil.exe and the installer are signed with ${quil_sign_CERT}")
else()
  message(STATUS "Unsigned packages: quil.exe and the installer carry no signature (no QUIL_SIGN_CERT and "
                 "QUIL_SIGN_KEY), and SmartScreen warns of them on download")
endif()
if(NOT CPACK_QUIL_INSTALLER_URL)
  message(STATUS "No winget installer manifest: QUIL_INSTALLER_URL does not say where the MSI is published")
endif()
