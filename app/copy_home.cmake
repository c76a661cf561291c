# Copies the shipped home folder (assets/) next to the executable. Settings the operator may
# have changed in the built home folder (the ini files) are copied only when they are missing,
# so that a rebuild never overwrites them.
#   cmake -DSRC=<assets> -DDST=<home> -DSTAMP=<file> -P copy_home.cmake
file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*")
foreach(f IN LISTS files)
  # The manuals' text sources are build input: the home folder gets the PDFs made from them.
  if(f MATCHES "^manual/")
    continue()
  endif()
  set(target "${DST}/${f}")
  string(TOUPPER "${f}" upper)
  if(upper MATCHES "\\.INI$" AND EXISTS "${target}")
    continue()
  endif()
  get_filename_component(dir "${target}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${SRC}/${f}" "${target}" ONLY_IF_DIFFERENT)
endforeach()
file(TOUCH "${STAMP}")
