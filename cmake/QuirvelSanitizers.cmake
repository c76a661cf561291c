# Sanitizers apply to the whole build so that every library and test is instrumented alike.
if(QUIRVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# Results depend on IEEE rounding (round half to even): never let the optimiser relax it.
add_compile_options(-fno-fast-math -ffp-contract=off)
# ThreadSanitizer, for the tests of code where threads meet (a separate build: it cannot be
# combined with AddressSanitizer). scripts/test builds and runs the frame-grab test with it.
option(QUIRVEL_TSAN "Build with ThreadSanitizer" OFF)
if(QUIRVEL_TSAN)
  if(QUIRVEL_SANITIZE)
    message(FATAL_ERROR "QUIRVEL_TSAN and QUIRVEL_SANITIZE exclude each other")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -O1)
  add_link_options(-fsanitize=thread)
endif()
