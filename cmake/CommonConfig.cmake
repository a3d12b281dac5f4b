# One place for the build settings every target shares.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_AUTOMOC ON)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

set(DIZARUZ_SANITIZE "" CACHE STRING "Sanitizer build: empty, 'address' (ASan+UBSan) or 'thread' (TSan)")

add_library(dizaruz_settings INTERFACE)
target_compile_options(dizaruz_settings INTERFACE
  -Wall -Wextra          # the usual suspects
  -Wpedantic             # non-standard extensions
  -Wshadow               # a local hiding a member or outer name
  -Wnon-virtual-dtor     # polymorphic classes deleted through a base pointer
  -Wold-style-cast)      # casts that hide what they do
target_compile_definitions(dizaruz_settings INTERFACE
  QT_NO_CAST_FROM_ASCII                     # every QString from bytes says its encoding
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

if(NOT DIZARUZ_SANITIZE STREQUAL "")
  # Tests that only move many bytes run in the plain build alone.
  target_compile_definitions(dizaruz_settings INTERFACE DIZARUZ_SANITIZED=1)
endif()
if(DIZARUZ_SANITIZE STREQUAL "address")
  target_compile_options(dizaruz_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(dizaruz_settings INTERFACE -fsanitize=address,undefined)
elseif(DIZARUZ_SANITIZE STREQUAL "thread")
  target_compile_options(dizaruz_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(dizaruz_settings INTERFACE -fsanitize=thread)
elseif(NOT DIZARUZ_SANITIZE STREQUAL "")
  message(FATAL_ERROR "DIZARUZ_SANITIZE must be empty, 'address' or 'thread'")
endif()
