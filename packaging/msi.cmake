# Run by CPack once the ZIP is made: the installer beside it, and winget's manifests in winget/.
execute_process(
  COMMAND bash ${CPACK_QUIL_SOURCE_DIR}/packaging/make-msi.sh ${CPACK_QUIL_FILES_DIR} ${CPACK_QUIL_PRODUCT_NAME} ${CPACK_PACKAGE_VERSION}
          ${CPACK_QUIL_UPGRADE_CODE} ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi
          ${CPACK_PACKAGE_DIRECTORY}/winget ${CPACK_QUIL_INSTALLER_URL}
  RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "the Windows installer could not be made")
endif()
if(NOT CPACK_QUIL_INSTALLER_URL)
  message(STATUS "No winget installer manifest: QUIL_INSTALLER_URL does not say where the MSI is published")
endif()
