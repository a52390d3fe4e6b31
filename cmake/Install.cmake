# Installation: the engine and platform libraries, the headers of the
# engine's exported interface, fxcheck and the glTF importer, and a CMake
# package (find_package(velox) -> velox::engine) and a pkg-config file
# (velox.pc) for programs built against an installed copy.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Headers live under include/velox so that the generic "engine/" and
# "platform/" folders of the includes do not land in the prefix's root.
set(VELOX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/velox)
set(VELOX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/velox)

# While the major version is 0 every minor version may break the ABI, so
# the soname carries both.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(VELOX_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
  set(VELOX_COMPATIBILITY SameMinorVersion)
else()
  set(VELOX_SOVERSION ${PROJECT_VERSION_MAJOR})
  set(VELOX_COMPATIBILITY SameMajorVersion)
endif()
set(VELOX_LIBRARY_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
if(PROJECT_VERSION_PATCH STREQUAL "")
  string(APPEND VELOX_LIBRARY_VERSION ".0")
else()
  string(APPEND VELOX_LIBRARY_VERSION ".${PROJECT_VERSION_PATCH}")
endif()

# Installed names that cannot clash with other packages' libengine.so.
set_target_properties(engine PROPERTIES
  OUTPUT_NAME velox_engine VERSION ${VELOX_LIBRARY_VERSION} SOVERSION ${VELOX_SOVERSION}
  INSTALL_RPATH "$ORIGIN")
set_target_properties(platform PROPERTIES
  OUTPUT_NAME velox_platform VERSION ${VELOX_LIBRARY_VERSION} SOVERSION ${VELOX_SOVERSION})
# The engine's headers declare platform types and functions (the device, the
# matrix helpers): a program that uses them links the platform library too.
target_link_libraries(engine INTERFACE platform)

file(RELATIVE_PATH VELOX_TOOLS_TO_LIBDIR
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
set(VELOX_TOOLS fxcheck)
if(TARGET gltfimport)
  list(APPEND VELOX_TOOLS gltfimport)
endif()
set_target_properties(${VELOX_TOOLS} PROPERTIES INSTALL_RPATH "$ORIGIN/${VELOX_TOOLS_TO_LIBDIR}")

install(TARGETS engine platform ${VELOX_TOOLS} EXPORT veloxTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${VELOX_INSTALL_INCLUDEDIR})

# The exported interface: every engine header that marks something
# ENGINE_API, the headers those include, and the platform headers they pull
# in. The package test checks the list against the sources.
set(VELOX_PUBLIC_ENGINE_HEADERS
  api.h animation.h animationController.h demoFile.h effectPool.h input.h kernel.h
  logging.h luaWrapper.h math.h mesh.h profiler.h renderObject.h renderer.h resourceTypes.h
  sceneInfo.h sceneNodes.h screen.h Shader.h shaderParameters.h singleton.h spatial.h
  strings.h timer.h VLXMesh.h Window.h windowStuff.h wrapper.h)
set(VELOX_PUBLIC_PLATFORM_HEADERS api.h d3dmath.h display.h formats.h graphics.h)
list(TRANSFORM VELOX_PUBLIC_ENGINE_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/engine/)
list(TRANSFORM VELOX_PUBLIC_PLATFORM_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/platform/)
install(FILES ${VELOX_PUBLIC_ENGINE_HEADERS} DESTINATION ${VELOX_INSTALL_INCLUDEDIR}/engine)
install(FILES ${VELOX_PUBLIC_PLATFORM_HEADERS} DESTINATION ${VELOX_INSTALL_INCLUDEDIR}/platform)

install(EXPORT veloxTargets NAMESPACE velox:: DESTINATION ${VELOX_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/veloxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/veloxConfig.cmake INSTALL_DESTINATION ${VELOX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/veloxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY ${VELOX_COMPATIBILITY})
install(FILES ${PROJECT_BINARY_DIR}/veloxConfig.cmake ${PROJECT_BINARY_DIR}/veloxConfigVersion.cmake
  DESTINATION ${VELOX_INSTALL_CMAKEDIR})

# pkg-config: relative to the file's own folder, so that the prefix given to
# cmake --install at install time is the one it describes.
file(RELATIVE_PATH VELOX_PC_TO_PREFIX
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VELOX_PC_TO_PREFIX "${VELOX_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/velox.pc.in ${PROJECT_BINARY_DIR}/velox.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velox.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
