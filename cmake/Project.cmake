# Warnings, sanitizers and the version note shared by every target of the project.

add_library(kvpo_options INTERFACE)
target_compile_options(kvpo_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)
if(KVPO_WERROR)
  target_compile_options(kvpo_options INTERFACE -Werror)
endif()
if(KVPO_SANITIZE)
  target_compile_options(kvpo_options INTERFACE -fsanitize=${KVPO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(kvpo_options INTERFACE -fsanitize=${KVPO_SANITIZE})
else()
  # Every build is hardened as the packages are, so that the tests run the
  # code as it ships: a write past a fixed buffer aborts instead of running on.
  # (The checked string functions need an optimised build.)
  target_compile_options(kvpo_options INTERFACE -fstack-protector-strong
                         $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
endif()

# The fixed file version (four 16-bit parts) is stored in an ELF note of each
# of our shared objects; getKVDLLVersionNumber reads it back from the file.
configure_file(${PROJECT_SOURCE_DIR}/cmake/version_note.c.in ${PROJECT_BINARY_DIR}/generated/version_note.c @ONLY)
set(KVPO_VERSION_NOTE_SOURCE ${PROJECT_BINARY_DIR}/generated/version_note.c)

# kvpo_shared_library(name SOURCES...): a shared library of ours with the version note.
# Targets that use asio (standalone or Boost's): GCC warns that
# ThreadSanitizer does not model asio's memory fences, while the locks of
# asio's scheduler order its handlers all the same.
function(kvpo_asio_fences target scope)
  if(KVPO_SANITIZE MATCHES "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} ${scope} -Wno-tsan)
  endif()
endfunction()

function(kvpo_shared_library name)
  add_library(${name} SHARED ${ARGN} ${KVPO_VERSION_NOTE_SOURCE})
  target_link_libraries(${name} PRIVATE kvpo_options)
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  # For the libraries it loads at run time by their soname (libNAME.so.SOVERSION).
  target_compile_definitions(${name} PRIVATE KVPO_SOVERSION="${PROJECT_VERSION_MAJOR}")
  # Clang's sanitizer runtimes live in the executable, which exports them to
  # the shared libraries it loads: their references stay undefined until then.
  if(NOT (KVPO_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
