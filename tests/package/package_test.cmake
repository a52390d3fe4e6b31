# Installs the build into a prefix inside the build tree, then builds the
# demo program of this folder against that copy twice, through the CMake
# package and through pkg-config, and runs both headless for a few frames.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DGENERATOR=...
#         -DCXX=... [-DSANITIZER_FLAGS=...] [-DLAUNCHER=...] -P package_test.cmake
#
# LAUNCHER (the sanitizer guard, in sanitizer builds) runs the demo programs.
cmake_minimum_required(VERSION 3.22)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    string(JOIN " " command ${ARGN})
    message(FATAL_ERROR "${command}\nfailed (${result}):\n${out}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Libraries with the project's version and soname links; the tools.
file(GLOB libraries RELATIVE ${prefix}/lib ${prefix}/lib/libvelox_*.so*)
list(SORT libraries)
foreach(expected libvelox_engine.so libvelox_engine.so.0.1 libvelox_engine.so.0.1.0
                 libvelox_platform.so libvelox_platform.so.0.1 libvelox_platform.so.0.1.0)
  if(NOT expected IN_LIST libraries)
    message(FATAL_ERROR "${expected} not installed (found: ${libraries})")
  endif()
endforeach()
foreach(tool fxcheck gltfimport)
  if(NOT EXISTS ${prefix}/bin/${tool})
    message(FATAL_ERROR "bin/${tool} not installed")
  endif()
endforeach()

# Headers: every engine header that exports something, and otherwise only
# headers that an installed header includes.
file(GLOB sources ${SOURCE_DIR}/engine/*.h)
foreach(header ${sources})
  file(STRINGS ${header} exports REGEX "ENGINE_API")
  get_filename_component(name ${header} NAME)
  if(exports AND NOT EXISTS ${prefix}/include/velox/engine/${name})
    message(FATAL_ERROR "engine/${name} exports but is not installed")
  endif()
endforeach()
file(GLOB_RECURSE installed RELATIVE ${prefix}/include/velox ${prefix}/include/velox/*.h)
set(included)
foreach(header ${installed})
  file(STRINGS ${prefix}/include/velox/${header} lines REGEX "^#include \"")
  foreach(line ${lines})
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" name "${line}")
    list(APPEND included ${name})
  endforeach()
endforeach()
set(all_headers ${WORK_DIR}/all_headers.cpp)
file(WRITE ${all_headers} "// Every installed header, so that each one's includes are installed too.\n")
foreach(header ${installed})
  file(STRINGS ${prefix}/include/velox/${header} exports REGEX "(ENGINE|PLATFORM)_API")
  if(NOT exports AND NOT header IN_LIST included)
    message(FATAL_ERROR "${header} is installed but nothing exported needs it")
  endif()
  file(APPEND ${all_headers} "#include \"${header}\"\n")
endforeach()

# Headless, on the null device: no GL driver needed.
set(ENV{VELOX_GRAPHICS} null)
separate_arguments(flags UNIX_COMMAND "${SANITIZER_FLAGS}")
separate_arguments(launcher UNIX_COMMAND "${LAUNCHER}")

# Through the CMake package, showing a scene made by the installed importer
# from a glTF file of one triangle, a camera and a lamp.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package -B ${WORK_DIR}/cmake-build -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${SANITIZER_FLAGS}" -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
file(WRITE ${WORK_DIR}/triangle.gltf [=[{"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1,2]}],
"nodes":[{"name":"Triangle","mesh":0},{"name":"Eye","camera":0,"translation":[0,0,3]},
 {"name":"Sun","translation":[1,2,3],"extensions":{"KHR_lights_punctual":{"light":0}}}],
"cameras":[{"type":"perspective","perspective":{"yfov":0.8,"znear":0.1}}],
"extensionsUsed":["KHR_lights_punctual"],"extensions":{"KHR_lights_punctual":{"lights":[{"type":"point"}]}},
"meshes":[{"name":"Triangle","primitives":[{"attributes":{"POSITION":0}}]}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"}],
"bufferViews":[{"buffer":0,"byteLength":36}],
"buffers":[{"byteLength":36,"uri":"data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}]}
]=])
run(${prefix}/bin/gltfimport ${WORK_DIR}/triangle.gltf ${WORK_DIR}/run-cmake/data/scene.demo)
execute_process(COMMAND ${launcher} ${WORK_DIR}/cmake-build/package_demo 5 data/scene.demo
                WORKING_DIRECTORY ${WORK_DIR}/run-cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "package_demo (CMake package) failed (${result}):\n${out}")
endif()

# Through pkg-config, with the compiler alone.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs velox RESULT_VARIABLE result
                OUTPUT_VARIABLE pc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not find velox")
endif()
separate_arguments(pc UNIX_COMMAND "${pc}")
run(${CXX} -std=c++17 -Wall -Wextra -Werror ${flags} ${SOURCE_DIR}/tests/package/demo.cpp
    ${all_headers} ${pc} -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/package_demo_pc)
file(MAKE_DIRECTORY ${WORK_DIR}/run-pc)
execute_process(COMMAND ${launcher} ${WORK_DIR}/package_demo_pc 5 WORKING_DIRECTORY ${WORK_DIR}/run-pc
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "package_demo (pkg-config) failed (${result}):\n${out}")
endif()
