# pgo.cmake - profile-guided optimisation of the shared library (GCC).
#
# A training run counts which paths of the library run on typical documents, and the
# compiler of vornaplex_xml lays out and optimises the code with those counts (the
# gains: bench/PROFILE.md). The profile steers code generation only; the sources and
# every other flag are those of the plain build. Off for other compilers, for
# sanitizer, coverage and debug builds, when cross-compiling (the training must run
# here), and with -DVX_PGO=OFF. Paths that the training does not reach are optimised
# as without a profile (-fprofile-partial-training).
#
# The training half is this project once more, configured in <build>/pgo with
# VX_PGO_TRAINING: its vornaplex_xml is instrumented, bench/pgo/train.cpp runs on it,
# and the counts are copied to the same place under this build tree. GCC 12 ties the
# counts of a file's internal functions to the object's path, hence a second tree
# rather than a second target.
option(VX_PGO "Optimise the shared library with the profile of a training run (GCC)" ON)
option(VX_PGO_TRAINING "Internal: this is the instrumented training build" OFF)
mark_as_advanced(VX_PGO_TRAINING)

if(VX_PGO_TRAINING)
  target_compile_options(vornaplex_xml PRIVATE -fprofile-generate -fprofile-update=single)
  target_link_options(vornaplex_xml PRIVATE -fprofile-generate)
  add_subdirectory(bench/pgo)
  return()
endif()

set(VX_PGO_ACTIVE OFF)
if(VX_PGO AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT CMAKE_CROSSCOMPILING
   AND NOT VX_SANITIZE AND NOT VX_COVERAGE
   AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$")
  set(VX_PGO_ACTIVE ON)
endif()
message(STATUS "vornaplex_xml: profile-guided optimisation ${VX_PGO_ACTIVE}")
if(NOT VX_PGO_ACTIVE)
  return()
endif()

include(ExternalProject)
string(TOUPPER "${CMAKE_BUILD_TYPE}" vx_config)
set(VX_PGO_STAMP ${PROJECT_BINARY_DIR}/pgo/profile.stamp)
ExternalProject_Add(vx_pgo_training
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/pgo
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
             -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
             -DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}
             -DCMAKE_CXX_FLAGS_${vx_config}=${CMAKE_CXX_FLAGS_${vx_config}}
             -DVX_WERROR=${VX_WERROR} -DVX_PGO_TRAINING=ON
             -DVX_BUILD_TESTS=OFF -DVX_BUILD_TOOLS=OFF -DVX_BUILD_EXAMPLES=OFF
             -DVX_PGO_COUNTS_TO=${PROJECT_BINARY_DIR}/CMakeFiles/vornaplex_xml.dir
             -DVX_PGO_STAMP=${VX_PGO_STAMP}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${VX_PGO_STAMP})

target_compile_options(vornaplex_xml PRIVATE -fprofile-use -fprofile-partial-training)
add_dependencies(vornaplex_xml vx_pgo_training)
# A new profile rebuilds the objects that were optimised with the old one (and, as the
# sources are shared, the testing library's, which must wait for it too).
set_source_files_properties(${VX_SOURCES} PROPERTIES OBJECT_DEPENDS ${VX_PGO_STAMP})
if(TARGET vornaplex_xml_testing)
  add_dependencies(vornaplex_xml_testing vx_pgo_training)
endif()
