# Warnings for every target of the project: quirvel_warnings(<target>).
function(quirvel_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-align -Wnull-dereference -Wimplicit-fallthrough -Wno-missing-field-initializers)
endfunction()
