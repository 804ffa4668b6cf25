# QUAYMARK_SANITIZE=ON builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails the test that caused it.
option(QUAYMARK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QUAYMARK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
