# One switch for sanitizer builds:
#   -DVORN_IO_SANITIZER=address    AddressSanitizer with UndefinedBehaviorSanitizer
#   -DVORN_IO_SANITIZER=thread     ThreadSanitizer
# It applies to every target of the build, the stand-in motor library included.
set(VORN_IO_SANITIZER "" CACHE STRING "Sanitizer build: empty, 'address' (ASan+UBSan) or 'thread'")
set_property(CACHE VORN_IO_SANITIZER PROPERTY STRINGS "" address thread)

if(VORN_IO_SANITIZER STREQUAL "address")
  set(_vorn_io_sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(VORN_IO_SANITIZER STREQUAL "thread")
  set(_vorn_io_sanitizer_flags -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT VORN_IO_SANITIZER STREQUAL "")
  message(FATAL_ERROR "VORN_IO_SANITIZER must be empty, 'address' or 'thread', not '${VORN_IO_SANITIZER}'")
endif()

if(_vorn_io_sanitizer_flags)
  add_compile_options(${_vorn_io_sanitizer_flags})
  add_link_options(${_vorn_io_sanitizer_flags})
endif()
