# The home folder's default archive (DATABASE/QUIRVEL.orv, the ini file's default) starts as a
# copy of the template; an archive that exists holds the operator's measurements and is never
# replaced.
#   cmake -DSRC=<template> -DDST=<archive> -P first_archive.cmake
if(NOT EXISTS "${DST}")
  file(COPY_FILE "${SRC}" "${DST}")
endif()
