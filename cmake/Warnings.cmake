# Warnings on and kept at zero; program texts are code page 936 bytes.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(NOT FF_SANITIZE AND NOT FF_SANITIZE_THREAD)
  add_compile_options(-Werror)
endif()
# GCC 12 at -O3 reports false "restrict" and "stringop-overflow" findings inside libstdc++'s
# char_traits; they stay warnings instead of failing optimised builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-error=restrict -Wno-error=stringop-overflow)
endif()
# At -O3 (the benchmarks' Release configuration) GCC 12 also reports false "array-bounds" and
# "stringop-overread" findings in the copies it inlines from libstdc++ (vector::insert of a few
# bytes). A compiler's known false positive must not stop a configuration that only optimises
# harder: Release leaves these four checks out, while the -O2 and -O0 configurations of the
# developers and CI keep every warning.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13
   AND CMAKE_BUILD_TYPE STREQUAL "Release")
  add_compile_options(-Wno-array-bounds -Wno-stringop-overread -Wno-restrict
                      -Wno-stringop-overflow)
endif()

# Literal texts of the program are GBK bytes: GB18030 equals code page 936 for every GBK
# character, and (unlike "GBK") libstdc++'s headers accept it.
function(ff_program_texts target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fexec-charset=GB18030>)
endfunction()

if(FF_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(FF_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
