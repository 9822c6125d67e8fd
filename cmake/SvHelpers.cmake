# sv_folder_library(NAME <target> [DEPS <targets...>] [EXCLUDE <file names...>])
# A library of every .cpp file in the current folder (an interface library while there are none).
function(sv_folder_library)
  cmake_parse_arguments(A "" "NAME" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex IN LISTS A_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "/${ex}$")
  endforeach()
  if(srcs)
    add_library(${A_NAME} STATIC ${srcs})
    target_include_directories(${A_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${A_NAME} PUBLIC ${A_DEPS})
  else()
    add_library(${A_NAME} INTERFACE)
    target_include_directories(${A_NAME} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${A_NAME} INTERFACE ${A_DEPS})
  endif()
endfunction()

# sv_folder_tests(NAME <exe> DIR <tests sub-folder> [DEPS <targets...>] [TIMEOUT <seconds>])
# One test program of every .cpp file in tests/<DIR>, run through CTest; each test is ended after
# TIMEOUT seconds (default 600, generous for a loaded machine).
function(sv_folder_tests)
  cmake_parse_arguments(A "" "NAME;DIR;TIMEOUT" "DEPS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${A_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${A_NAME} ${srcs})
  target_link_libraries(${A_NAME} PRIVATE sv_testsupport ${A_DEPS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${A_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    PROPERTIES ENVIRONMENT "SV_PROGRAM_DIR=${SV_PROGRAM_DIR};SV_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               TIMEOUT ${A_TIMEOUT})
endfunction()

# sv_windowed_program(NAME <program> DEPS <targets...>)
# A program of the program folder whose windows come from the toolkit module (svui_wx.so, built
# with it): the program links no toolkit and gives the module the whole widget and platform layer
# (exported, every object of the two libraries linked in), so that there is one copy of each.
function(sv_windowed_program)
  cmake_parse_arguments(A "" "NAME" "DEPS" ${ARGN})
  add_executable(${A_NAME} main.cpp)
  target_link_libraries(${A_NAME} PRIVATE ${A_DEPS} svui svplatform)
  set_target_properties(${A_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SV_PROGRAM_DIR}
                        ENABLE_EXPORTS ON)
  # Ahead of the program's own objects; the libraries' later places on the line add nothing.
  target_link_options(${A_NAME} PRIVATE "SHELL:-Wl,--whole-archive $<TARGET_FILE:svui> \
$<TARGET_FILE:svplatform> -Wl,--no-whole-archive")
  add_dependencies(${A_NAME} svui_wx_module)
endfunction()
