# Compiler settings every target of the project shares.
add_library(kurumu_settings INTERFACE)
target_compile_options(kurumu_settings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
if(KURUMU_WERROR)
  target_compile_options(kurumu_settings INTERFACE -Werror)
endif()
# Japanese literals everywhere: no implicit conversions between bytes and QString.
# The version is written once, in the project() call; the code takes it from here.
target_compile_definitions(kurumu_settings INTERFACE KURUMU_VERSION="${PROJECT_VERSION}")
target_compile_definitions(kurumu_settings INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_USE_QSTRINGBUILDER QT_STRICT_ITERATORS
  QT_NO_KEYWORDS)
if(KURUMU_SANITIZE)
  target_compile_options(kurumu_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                   -fno-sanitize-recover=undefined)
  target_link_options(kurumu_settings INTERFACE -fsanitize=address,undefined)
endif()
