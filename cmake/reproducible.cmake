# The same commit gives the same Windows binaries, byte for byte, whatever folder and time
# it is built in, so that anyone can check a released DLL against the tagged source.

# Source and build folders leave no trace in the objects (__FILE__, .file symbols, debug
# names): paths are written relative to the source or build folder.
add_compile_options(
    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>
    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>)

# No link time in the PE header's TimeDateStamp: it stays 0. Windows reads it only to
# check bound imports, which nothing here uses.
add_link_options(-Wl,--no-insert-timestamp)
