# Warnings are set per target, so that third-party code built in the tree is not affected. Sanitizers are set for
# the whole tree instead: every object linked into one sanitized program must be instrumented alike.
function(qelt_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(QELT_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(QELT_SANITIZE)
  string(REPLACE "," ";" _qelt_sanitizers "${QELT_SANITIZE}")
  foreach(_san IN LISTS _qelt_sanitizers)
    if(NOT _san MATCHES "^(address|undefined|thread|leak)$")
      message(FATAL_ERROR "QELT_SANITIZE: unknown sanitizer '${_san}'")
    endif()
  endforeach()
  add_compile_options(-fsanitize=${QELT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QELT_SANITIZE})
  if("thread" IN_LIST _qelt_sanitizers)
    # Asio's handler fences are not modelled by TSan; its queue hands handlers over under a mutex, which TSan
    # does see, so the warning is noise here.
    add_compile_options(-Wno-tsan)
  endif()
endif()
