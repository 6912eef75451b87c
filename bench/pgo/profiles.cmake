# profiles.cmake - moves the counts of a training run (cmake -P, STEP=clear|copy).
#   clear: removes the counts of an earlier run under FROM; libgcov would add to them.
#   copy:  copies every FROM/<path>.gcda to TO/<path>.gcda: both trees place the
#          library's objects alike, and the compiler looks for <object>.gcda.
file(GLOB_RECURSE counts RELATIVE "${FROM}" "${FROM}/*.gcda")
if(STEP STREQUAL "clear")
  foreach(count IN LISTS counts)
    file(REMOVE "${FROM}/${count}")
  endforeach()
  return()
endif()
if(NOT counts)
  message(FATAL_ERROR "The training run left no counts under ${FROM}")
endif()
foreach(count IN LISTS counts)
  get_filename_component(directory "${TO}/${count}" DIRECTORY)
  file(MAKE_DIRECTORY "${directory}")
  file(COPY_FILE "${FROM}/${count}" "${TO}/${count}")
endforeach()
