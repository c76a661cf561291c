# Sanitizers apply to the whole build so that every library and test is instrumented alike.
if(QUIRVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# Results depend on IEEE rounding (round half to even): never let the optimiser relax it.
add_compile_options(-fno-fast-math -ffp-contract=off)
