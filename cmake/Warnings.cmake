# One warning set for every target of ours; third-party code (GoogleTest) is left alone.
function(quarvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion)
endfunction()
