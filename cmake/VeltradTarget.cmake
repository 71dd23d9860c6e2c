# Per-target settings: warnings and the sanitizer choice are applied to our own
# targets only, never globally, so third-party code builds as its authors intend.
function(veltrad_target_defaults target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  endif()
  if(VELTRAD_SANITIZE)
    # Reports name files and lines: debug information where the build type
    # brings none of its own (scripts/test.sh chooses -g1 for speed).
    target_compile_options(${target} PRIVATE -fsanitize=${VELTRAD_SANITIZE} -fno-omit-frame-pointer
                           $<$<NOT:$<CONFIG:Debug,RelWithDebInfo>>:-g>)
    target_link_options(${target} PRIVATE -fsanitize=${VELTRAD_SANITIZE})
  endif()
endfunction()
