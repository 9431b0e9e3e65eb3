# Installs the build tree into a scratch prefix and builds one small program
# against it both ways a host may: with CMake's find_package(kvprtobj), and
# with the flags pkg-config gives for kvprtobj.pc.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(header kvprtobj/kvprtobj.h kvprtobj/prtobj.h kvprtobj/zorbce.h kvprtobj/fw_base.h)
  if(NOT EXISTS ${prefix}/include/${header})
    message(FATAL_ERROR "not installed: include/${header}")
  endif()
endforeach()
function(expect_ok program)
  run(${program})
  if(NOT last_output MATCHES "consumer ok")
    message(FATAL_ERROR "unexpected output of ${program}: ${last_output}")
  endif()
endfunction()

# One way: find_package(kvprtobj).
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
expect_ok(${WORK_DIR}/build/consumer)

# The other: the compiler given what pkg-config says of kvprtobj.pc.
find_program(PKG_CONFIG NAMES pkgconf pkg-config REQUIRED)
file(GLOB_RECURSE pc_files ${prefix}/*/kvprtobj.pc)
get_filename_component(pc_dir "${pc_files}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run(${PKG_CONFIG} --cflags --libs kvprtobj)
separate_arguments(flags UNIX_COMMAND "${last_output}")
run(${PKG_CONFIG} --variable=libdir kvprtobj)
string(STRIP "${last_output}" libdir)
run(${CXX} -std=c++20 ${SOURCE_DIR}/main.cpp -o ${WORK_DIR}/consumer-pc ${flags} -Wl,-rpath,${libdir})
expect_ok(${WORK_DIR}/consumer-pc)
