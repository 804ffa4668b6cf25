# Every target of the project builds with the same strict warnings; a warning
# is a build failure.
add_compile_options(-Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor)
