# d88_shared_library_name(VARIABLE LIBRARY): the name under which the system loads the shared
# library LIBRARY (its SONAME, such as libarchive.so.13), for a program that loads it only when
# it needs it.
function(d88_shared_library_name variable library)
  get_filename_component(file ${library} REALPATH)
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  string(REGEX MATCH "SONAME +([^\n ]+)" found "${dump}")
  if(failed OR NOT found)
    message(FATAL_ERROR "no SONAME in ${file}")
  endif()
  set(${variable} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
