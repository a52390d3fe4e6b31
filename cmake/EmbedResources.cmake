# Writes OUTPUT: a C++ source that carries the program's icon (resource 1)
# and title picture (resource 106) and the lookup the platform layer calls.
# A picture that does not exist yet is simply absent.
set(ids 1 106)
set(files "${ICON}" "${TITLE}")
set(body "")
set(cases "")
foreach(i RANGE 1)
  list(GET ids ${i} id)
  list(GET files ${i} file)
  if(EXISTS "${file}")
    file(READ "${file}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
    string(APPEND body "const unsigned char kResource${id}[] = {\n${bytes}\n};\n")
    string(APPEND cases "    case ${id}: *data = kResource${id}; *size = sizeof kResource${id}; return true;\n")
  endif()
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from the content build's pictures.
#include <cstddef>

namespace {
${body}}

extern \"C\" __attribute__((visibility(\"default\"))) bool velox_program_resource(
    int id, const void** data, std::size_t* size) {
  (void)data, (void)size;
  switch (id) {
${cases}    default: return false;
  }
}
")
# Unchanged output keeps the program from relinking.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
