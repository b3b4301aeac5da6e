# Warnings, sanitizers and the floating-point rules that apply to the whole build.

add_compile_options(-Wall -Wextra)
if(TOOLBOX_WERROR)
  add_compile_options(-Werror)
endif()

# Results must match bit for bit: no fast-math anywhere, and no fused multiply-add.
add_compile_options(-ffp-contract=off)

if(TOOLBOX_SANITIZE)
  set(_sanitize -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_sanitize})
  add_link_options(${_sanitize})
  # Plain heap memory everywhere, so that the sanitizer sees every array's bounds.
  add_compile_definitions(MEXHOST_PLAIN_MEMORY=1)
endif()
