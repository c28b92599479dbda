# Run by CPack once the files are staged and before they are packed: every
# staged file and folder takes the time of the commit (SOURCE_DATE_EPOCH,
# which the release sets), so that two packages of one commit hold the same
# bytes, whenever they are made.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(
    COMMAND find ${CPACK_TEMPORARY_DIRECTORY} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
    COMMAND_ERROR_IS_FATAL ANY)
endif()
