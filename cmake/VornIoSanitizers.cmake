# One switch for sanitizer builds:
#   -DVORN_IO_SANITIZER=address    AddressSanitizer with UndefinedBehaviorSanitizer
#   -DVORN_IO_SANITIZER=thread     ThreadSanitizer
# It applies to every target of the build, the stand-in motor library included.
# VORN_IO_SANITIZER_FLAGS holds the flags, for code built outside this project
# against it (the package test's consumer must be built the same way).
set(VORN_IO_SANITIZER "" CACHE STRING "Sanitizer build: empty, 'address' (ASan+UBSan) or 'thread'")
set_property(CACHE VORN_IO_SANITIZER PROPERTY STRINGS "" address thread)

if(VORN_IO_SANITIZER STREQUAL "address")
  set(VORN_IO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(VORN_IO_SANITIZER STREQUAL "thread")
  set(VORN_IO_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(VORN_IO_SANITIZER STREQUAL "")
  set(VORN_IO_SANITIZER_FLAGS "")
else()
  message(FATAL_ERROR "VORN_IO_SANITIZER must be empty, 'address' or 'thread', not '${VORN_IO_SANITIZER}'")
endif()

if(VORN_IO_SANITIZER_FLAGS)
  add_compile_options(${VORN_IO_SANITIZER_FLAGS})
  add_link_options(${VORN_IO_SANITIZER_FLAGS})
endif()
