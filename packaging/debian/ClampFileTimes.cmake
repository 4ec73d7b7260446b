# Run by CPack after it has installed the package's files, before it packs them: gives every file and folder the
# time SOURCE_DATE_EPOCH names (when it is set), so that the package does not record when it was built.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} OR "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  return()
endif()
execute_process(COMMAND find "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" -depth -newermt "@$ENV{SOURCE_DATE_EPOCH}"
                        -exec touch --no-dereference --date=@$ENV{SOURCE_DATE_EPOCH} {} +
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "could not set the package's file times to SOURCE_DATE_EPOCH")
endif()
