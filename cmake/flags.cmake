# Compiler and linker flags shared by every target.
#
# Floating point must give the same bits on both builds: no contraction of
# a*b+c into fused multiply-adds, no fast-math, SSE2 arithmetic (the x86-64
# baseline) on both.
add_compile_options(-ffp-contract=off -fno-fast-math -fno-math-errno
                    -Wall -Wextra -Werror=missing-field-initializers -Werror=return-type)

if(WIN32)
  # Modules and test programs carry the C and C++ runtimes inside, so that no
  # MinGW DLL has to sit beside them.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  add_link_options(-Wl,-z,defs)
endif()

if(VEXO_SANITIZE)
  add_compile_options(-fsanitize=${VEXO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VEXO_SANITIZE})
endif()
