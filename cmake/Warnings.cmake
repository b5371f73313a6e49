# Strict warnings for the project's own targets; third-party headers come in as SYSTEM.
function(kelvaro_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Werror)
endfunction()

# A project library: static, warnings on, include roots at src/ and the generated headers.
function(kelvaro_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;AUTOMOC" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  kelvaro_warnings(${name})
  if(ARG_AUTOMOC)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
endfunction()
