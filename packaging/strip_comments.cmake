# Run by CPack once the programs are installed for packaging and stripped:
# removes the compiler's .comment section, as Debian's own packaging does.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note "${program}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objcopy failed on ${program}")
  endif()
endforeach()
