# tamsu_add_test(<name> LABEL <label...> SOURCES <files...> LIBS <targets...> [TIMEOUT <seconds>])
# One test binary per unit; ctest runs it with the given labels: one of unit|audio|ui|net, plus
# "pipewire" for an audio test that also runs against the private PipeWire server.
# Each label has a target that builds its tests and nothing else (tamsu_tests_<label>): a build that
# runs only some labels, as the sanitizer builds do, builds only what those need.
function(tamsu_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "LABEL;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tamsu_testsupport GTest::gtest GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  foreach(label IN LISTS T_LABEL)
    if(NOT TARGET tamsu_tests_${label})
      add_custom_target(tamsu_tests_${label})
    endif()
    add_dependencies(tamsu_tests_${label} ${name})
  endforeach()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TAMSU_SKIN_DIR=${TAMSU_SKIN_DIR};QT_QPA_PLATFORM=offscreen")
endfunction()
