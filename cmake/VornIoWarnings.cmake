# Warnings are applied per target, so that consumers of the installed package
# never inherit them.
function(vorn_io_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wconversion -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Woverloaded-virtual -Wnull-dereference -Wdouble-promotion)
  if(VORN_IO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

option(VORN_IO_WERROR "Treat compiler warnings as errors" OFF)
