# The fuzz configuration (FF_FUZZ=ON, clang): every library is built with libFuzzer's coverage
# and with AddressSanitizer and UndefinedBehaviorSanitizer, and the harnesses under fuzz/ link
# the real libraries and sit in bin/ beside the stand-ins the runtime loads by name.
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DFF_FUZZ=ON -DFF_BUILD_TESTS=OFF
#   cmake --build build-fuzz --target ff_fuzzers
# fuzz/run_all.sh does both, then runs each harness on its seed corpus.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "FF_FUZZ needs clang for libFuzzer: configure with CC=clang CXX=clang++")
endif()

add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer -g -O1)
add_link_options(-fsanitize=address,undefined)

# The program's literal texts are code page 936 bytes (Warnings.cmake), and clang has no
# -fexec-charset for that: each source of such a target is compiled from a copy whose ordinary
# literals hold those bytes as escapes (fuzz/program_texts.cpp), the same bytes g++ writes.
add_executable(ff_program_texts ${PROJECT_SOURCE_DIR}/fuzz/program_texts.cpp)
set_target_properties(ff_program_texts PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                  ${CMAKE_BINARY_DIR}/program_texts)

function(ff_program_texts target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(rewritten "")
  foreach(source IN LISTS sources)
    get_filename_component(path ${source} ABSOLUTE BASE_DIR ${source_dir})
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${path} NORMALIZE in_tree)
    cmake_path(IS_PREFIX CMAKE_BINARY_DIR ${path} NORMALIZE generated)
    if(NOT source MATCHES "\\.cpp$" OR NOT in_tree OR generated)
      list(APPEND rewritten ${source})
      continue()
    endif()
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${path})
    set(copy ${CMAKE_BINARY_DIR}/program_texts/${target}/${relative})
    get_filename_component(copy_dir ${copy} DIRECTORY)
    add_custom_command(
      OUTPUT ${copy}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${copy_dir}
      COMMAND ff_program_texts ${path} ${copy}
      DEPENDS ff_program_texts ${path}
      VERBATIM)
    # The copy keeps what the source was given (compile definitions of its own).
    foreach(property COMPILE_DEFINITIONS COMPILE_OPTIONS)
      get_source_file_property(value ${path} ${property})
      if(value)
        set_source_files_properties(${copy} PROPERTIES ${property} "${value}")
      endif()
    endforeach()
    list(APPEND rewritten ${copy})
  endforeach()
  set_property(TARGET ${target} PROPERTY SOURCES ${rewritten})
  # Quoted includes are looked up beside the source first.
  target_include_directories(${target} PRIVATE ${source_dir})
endfunction()

add_subdirectory(${PROJECT_SOURCE_DIR}/fuzz ${CMAKE_BINARY_DIR}/fuzz)
